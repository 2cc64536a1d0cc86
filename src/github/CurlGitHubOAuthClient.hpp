#pragma once
// CurlGitHubOAuthClient: GitHubOAuthHTTPClient over CurlHttpTransport. Token requests post a form to
// "<oauthBase>/login/oauth/access_token" (with the client secret when one is configured); the user
// lookup gets "<apiBase>/user" with the bearer token. Each request allows 60 seconds for connecting
// and for any pause, 120 seconds in all. Holds only its settings; safe from any thread.
#include <optional>
#include <utility>
#include <vector>

#include "github/GitHubEndpoints.hpp"
#include "github/GitHubOAuthHTTPClient.hpp"

namespace pelko {

class CurlGitHubOAuthClient final : public GitHubOAuthHTTPClient {
  public:
    CurlGitHubOAuthClient(std::string clientID, std::optional<std::string> clientSecret,
                          std::string redirectURI, GitHubEndpoints endpoints);

    OAuthTokenResponse exchangeCode(const std::string& code, const std::string& codeVerifier) override;
    OAuthTokenResponse refreshToken(const std::string& refreshToken) override;
    GitHubUser fetchUser(const std::string& accessToken) override;

    // Form encoding: everything but unreserved characters is percent-encoded (so "&", "=", "+" and
    // the space never pass as they are).
    static std::string formEncode(const std::vector<std::pair<std::string, std::string>>& fields);

  private:
    OAuthTokenResponse requestToken(std::vector<std::pair<std::string, std::string>> fields, bool isRefresh);

    std::string clientID_;
    std::optional<std::string> clientSecret_;
    std::string redirectURI_;
    GitHubEndpoints endpoints_;
};

}  // namespace pelko
