#include "github/CurlGitHubOAuthClient.hpp"

#include <algorithm>

#include "github/CurlHttpTransport.hpp"
#include "github/GitHubOAuthHTTPClientError.hpp"
#include "github/UrlEncoding.hpp"
#include "platform/Json.hpp"

namespace pelko {
namespace {

using Error = GitHubOAuthHTTPClientError;

constexpr std::chrono::seconds idleTimeout{60};
constexpr std::chrono::seconds totalTimeout{120};

// Reads the answer without ever quoting it: a parser or type error becomes `invalidResponse`.
Json parseObject(const std::string& body) {
    auto value = json::parse(body);
    if (!value || !value->is_object()) throw Error(Error::Code::invalidResponse);
    return *value;
}

}  // namespace

CurlGitHubOAuthClient::CurlGitHubOAuthClient(std::string clientID, std::optional<std::string> clientSecret,
                                             std::string redirectURI, GitHubEndpoints endpoints)
    : clientID_(std::move(clientID)),
      clientSecret_(std::move(clientSecret)),
      redirectURI_(std::move(redirectURI)),
      endpoints_(std::move(endpoints)) {}

std::string CurlGitHubOAuthClient::formEncode(
    const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty()) body += '&';
        body += urlencoding::encode(name) + "=" + urlencoding::encode(value);
    }
    return body;
}

OAuthTokenResponse CurlGitHubOAuthClient::exchangeCode(const std::string& code,
                                                       const std::string& codeVerifier) {
    return requestToken({{"client_id", clientID_},
                         {"redirect_uri", redirectURI_},
                         {"code", code},
                         {"grant_type", "authorization_code"},
                         {"code_verifier", codeVerifier}},
                        false);
}

OAuthTokenResponse CurlGitHubOAuthClient::refreshToken(const std::string& refreshToken) {
    return requestToken({{"client_id", clientID_},
                         {"redirect_uri", redirectURI_},
                         {"grant_type", "refresh_token"},
                         {"refresh_token", refreshToken}},
                        true);
}

OAuthTokenResponse CurlGitHubOAuthClient::requestToken(
    std::vector<std::pair<std::string, std::string>> fields, bool isRefresh) {
    if (endpoints_.oauthBase.rfind("http", 0) != 0) throw Error(Error::Code::invalidConfiguration);
    if (clientSecret_) fields.emplace_back("client_secret", *clientSecret_);

    CurlHttpTransport::Request request;
    request.method = "POST";
    request.url = endpoints_.tokenURL();
    request.headers = {{"Accept", "application/json"}, {"Content-Type", "application/x-www-form-urlencoded"}};
    request.body = formEncode(fields);
    request.idleTimeout = idleTimeout;
    request.totalTimeout = totalTimeout;
    auto response = CurlHttpTransport::send(request);
    if (response.status != 200) throw Error(Error::Code::invalidResponse);

    Json object = parseObject(response.body);
    OAuthTokenResponse token;
    try {
        token.scope = json::reqString(object, "scope");
        auto accessToken = json::optString(object, "access_token");
        if (!accessToken) throw Error(Error::Code::missingAccessToken);
        token.accessToken = *accessToken;
        token.refreshToken = json::optString(object, "refresh_token").value_or("");
        token.expiresIn =
            json::optInteger(object, "expires_in", 0, OAuthTokenResponse::maxExpiresIn).value_or(0);
        token.tokenType = json::optString(object, "token_type").value_or("bearer");
    } catch (const DecodeError&) {
        throw Error(Error::Code::invalidResponse);
    }
    if (isRefresh && token.refreshToken.empty()) throw Error(Error::Code::missingRefreshToken);
    std::replace(token.scope.begin(), token.scope.end(), ',', ' ');
    return token;
}

GitHubUser CurlGitHubOAuthClient::fetchUser(const std::string& accessToken) {
    if (endpoints_.apiBase.rfind("http", 0) != 0) throw Error(Error::Code::invalidConfiguration);
    CurlHttpTransport::Request request;
    request.url = endpoints_.userURL();
    request.headers = {{"Accept", "application/vnd.github+json"}, {"Authorization", "Bearer " + accessToken}};
    request.idleTimeout = idleTimeout;
    request.totalTimeout = totalTimeout;
    auto response = CurlHttpTransport::send(request);
    if (response.status != 200) throw Error(Error::Code::userFetchFailed);

    Json object = parseObject(response.body);
    try {
        return GitHubUser{json::reqString(object, "login"), json::optString(object, "avatar_url")};
    } catch (const DecodeError&) {
        throw Error(Error::Code::invalidResponse);
    }
}

}  // namespace pelko
