#pragma once
// GitHubOAuthHTTPClient: GitHub's OAuth token endpoint (code exchange, refresh) and the user lookup.
//
// Every call blocks the calling thread until the answer or the time-out; callable from any thread at
// once (the sign-in worker and the refresh timer queue). Failures throw GitHubOAuthHTTPClientError or
// HttpTransportError; nothing is retried or logged.
#include <string>

#include "github/GitHubUser.hpp"
#include "github/OAuthTokenResponse.hpp"

namespace pelko {

class GitHubOAuthHTTPClient {
  public:
    virtual ~GitHubOAuthHTTPClient() = default;
    virtual OAuthTokenResponse exchangeCode(const std::string& code, const std::string& codeVerifier) = 0;
    virtual OAuthTokenResponse refreshToken(const std::string& refreshToken) = 0;
    virtual GitHubUser fetchUser(const std::string& accessToken) = 0;
};

}  // namespace pelko
