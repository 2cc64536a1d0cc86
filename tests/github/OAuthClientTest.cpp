// CurlGitHubOAuthClient against a loopback server standing in for GitHub's OAuth and API hosts.
#include <gtest/gtest.h>

#include "github/CurlGitHubOAuthClient.hpp"
#include "github/GitHubOAuthHTTPClientError.hpp"
#include "github/GitHubTestSupport.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

using Code = GitHubOAuthHTTPClientError::Code;

using test::formFields;

class OAuthClientTest : public ::testing::Test {
  protected:
    test::RoutedHttpServer server;
    GitHubEndpoints endpoints{server.base() + "/web", server.base() + "/api"};
    CurlGitHubOAuthClient client{"client&id", std::nullopt, "pelko://oauth/callback", endpoints};

    template <class F>
    void expectError(Code code, F call, const std::string& context) {
        try {
            call();
            ADD_FAILURE() << context << ": no error";
        } catch (const GitHubOAuthHTTPClientError& error) {
            EXPECT_EQ(error.code(), code) << context;
            EXPECT_EQ(std::string(error.what()).find("gho_"), std::string::npos) << context;
        }
    }
};

TEST_F(OAuthClientTest, CodeExchangePostsTheFormAndReadsTheGrant) {
    server.respond("POST", "/web/login/oauth/access_token", 200,
                   R"({"access_token":"gho_a","refresh_token":"ghr_r","token_type":"bearer",)"
                   R"("scope":"repo,read:user","expires_in":28800})");
    CurlGitHubOAuthClient withSecret{"client&id", "s3cret =+", "pelko://oauth/callback", endpoints};
    auto token = withSecret.exchangeCode("code 1+2", "verifier");
    EXPECT_EQ(token, (OAuthTokenResponse{"gho_a", "ghr_r", 28800, "repo read:user", "bearer"}));

    auto requests = server.requests("/web/login/oauth/access_token");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("accept"), "application/json");
    EXPECT_EQ(requests[0].header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].body.find(' '), std::string::npos);
    EXPECT_EQ(requests[0].body.find('+'), std::string::npos);
    EXPECT_EQ(formFields(requests[0].body),
              (std::map<std::string, std::string>{{"client_id", "client&id"},
                                                  {"client_secret", "s3cret =+"},
                                                  {"code", "code 1+2"},
                                                  {"code_verifier", "verifier"},
                                                  {"grant_type", "authorization_code"},
                                                  {"redirect_uri", "pelko://oauth/callback"}}));
}

TEST_F(OAuthClientTest, RefreshSendsTheRefreshTokenWithoutSecretWhenNoneIsConfigured) {
    server.respond("POST", "/web/login/oauth/access_token", 200,
                   R"({"access_token":"gho_b","refresh_token":"ghr_s","scope":""})");
    auto token = client.refreshToken("ghr_r");
    EXPECT_EQ(token, (OAuthTokenResponse{"gho_b", "ghr_s", 0, "", "bearer"}));
    auto fields = formFields(server.requests()[0].body);
    EXPECT_EQ(fields["grant_type"], "refresh_token");
    EXPECT_EQ(fields["refresh_token"], "ghr_r");
    EXPECT_EQ(fields.count("client_secret"), 0u);
}

TEST_F(OAuthClientTest, TokenAnswersMapToTheirErrors) {
    struct Case {
        int status;
        const char* body;
        bool refresh;
        std::optional<Code> code;
    };
    const Case cases[] = {
        {200, R"({"access_token":"gho_a","scope":"repo"})", false, std::nullopt},  // no refresh token: fine
        {200, R"({"access_token":"gho_a","scope":"repo"})", true, Code::missingRefreshToken},
        {200, R"({"error":"bad_verification_code","scope":"repo"})", false, Code::missingAccessToken},
        {200, R"({"access_token":"gho_leak"})", false, Code::invalidResponse},  // no scope
        {200, R"(gho_leak not json)", false, Code::invalidResponse},
        {200, R"({"access_token":"gho_a","scope":"repo","expires_in":"soon"})", false, Code::invalidResponse},
        {401, R"({})", false, Code::invalidResponse},
        {302, R"({})", true, Code::invalidResponse},
    };
    for (const auto& c : cases) {
        server.respond("POST", "/web/login/oauth/access_token", c.status, c.body);
        std::string context = std::to_string(c.status) + " " + c.body;
        auto call = [&] { return c.refresh ? client.refreshToken("ghr_r") : client.exchangeCode("c", "v"); };
        if (c.code)
            expectError(*c.code, call, context);
        else
            EXPECT_EQ(call().refreshToken, "") << context;
    }
}

TEST_F(OAuthClientTest, UserLookupSendsTheBearerTokenAndMapsFailures) {
    server.respond("GET", "/api/user", 200, R"({"login":"octocat","avatar_url":"https://a.example/o.png"})");
    auto user = client.fetchUser("gho_a");
    EXPECT_EQ(user.login, "octocat");
    EXPECT_EQ(user.avatarURL, "https://a.example/o.png");
    auto request = server.requests("/api/user").at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.header("authorization"), "Bearer gho_a");
    EXPECT_EQ(request.header("accept"), "application/vnd.github+json");

    server.respond("GET", "/api/user", 200, R"({"login":"octocat"})");
    EXPECT_FALSE(client.fetchUser("gho_a").avatarURL);
    server.respond("GET", "/api/user", 401, R"({"message":"Bad credentials"})");
    expectError(
        Code::userFetchFailed, [&] { return client.fetchUser("gho_a"); }, "401");
    server.respond("GET", "/api/user", 200, R"({"id":1})");
    expectError(
        Code::invalidResponse, [&] { return client.fetchUser("gho_a"); }, "no login");
}

}  // namespace
}  // namespace pelko
