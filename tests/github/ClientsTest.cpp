// CurlGitHubOAuthClient, CurlGitHubGraphQLClient and the transport under them, against a loopback
// server standing in for GitHub's OAuth ("/web") and API ("/api") hosts.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <future>

#include "github/CurlGitHubGraphQLClient.hpp"
#include "github/CurlGitHubOAuthClient.hpp"
#include "github/CurlHttpTransport.hpp"
#include "github/GitHubGraphQLClientError.hpp"
#include "github/GitHubOAuthHTTPClientError.hpp"
#include "github/GitHubTestSupport.hpp"
#include "github/HttpTransportError.hpp"
#include "github/OAuthTokenRecord.hpp"
#include "platform/Environment.hpp"
#include "platform/ProcessEnd.hpp"
#include "platform/UniqueFd.hpp"
#include "support/LoopbackListener.hpp"
#include "support/RoutedHttpServer.hpp"
#include "support/TestInChild.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

using Code = GitHubOAuthHTTPClientError::Code;

class ClientsTest : public ::testing::Test {
  protected:
    test::RoutedHttpServer server;
    GitHubEndpoints endpoints{server.base() + "/web", server.base() + "/api"};
    CurlGitHubOAuthClient oauth{"client&id", std::nullopt, "pelko://oauth/callback", endpoints};
    CurlGitHubGraphQLClient graphQL{endpoints};

    Json runQuery() {
        return graphQL.execute("query { viewer { login } }", Json{{"first", 2}}, "gho_secret");
    }
    // `call` throws `code`, with a text that quotes no token.
    template <class F>
    void expectError(Code code, F call, const std::string& context) {
        auto error = test::thrown<GitHubOAuthHTTPClientError>(call);
        ASSERT_TRUE(error) << context << ": no error";
        EXPECT_EQ(error->code(), code) << context;
        EXPECT_EQ(std::string(error->what()).find("gho_"), std::string::npos) << context;
    }
};

TEST_F(ClientsTest, OAuthCodeExchangePostsTheFormAndReadsTheGrant) {
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
    EXPECT_EQ(test::formFields(requests[0].body),
              (std::map<std::string, std::string>{{"client_id", "client&id"},
                                                  {"client_secret", "s3cret =+"},
                                                  {"code", "code 1+2"},
                                                  {"code_verifier", "verifier"},
                                                  {"grant_type", "authorization_code"},
                                                  {"redirect_uri", "pelko://oauth/callback"}}));
}

TEST_F(ClientsTest, OAuthTokenAnswersMapToTheirErrors) {
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
        auto call = [&] { return c.refresh ? oauth.refreshToken("ghr_r") : oauth.exchangeCode("c", "v"); };
        if (c.code)
            expectError(*c.code, call, context);
        else
            EXPECT_EQ(call().refreshToken, "") << context;
    }
}

TEST_F(ClientsTest, OAuthTokenLifetimesOutsideZeroToACenturyAreRefused) {
    struct Case {
        const char* expiresIn;
        std::optional<std::int64_t> granted;  // nothing: refused as invalidResponse
    };
    const Case cases[] = {
        {"28800", 28800},
        {"0", 0},
        {"3162240000", 3162240000},  // the longest: a hundred years of 366 days
        {"3162240001", std::nullopt},
        {"-1", std::nullopt},
        {"-9223372036854775808", std::nullopt},
        {"9223372036854775807", std::nullopt},
        {"18446744073709551615", std::nullopt},
        {"1e300", std::nullopt},
    };
    const auto now = Date::fromSeconds(1'700'000'000);
    for (const auto& c : cases) {
        const std::string body =
            std::string(R"({"access_token":"gho_a","refresh_token":"ghr_r","scope":"repo",)") +
            R"("expires_in":)" + c.expiresIn + "}";
        server.respond("POST", "/web/login/oauth/access_token", 200, body);
        for (bool refresh : {false, true}) {
            auto call = [&] { return refresh ? oauth.refreshToken("ghr_r") : oauth.exchangeCode("c", "v"); };
            std::string context = std::string(c.expiresIn) + (refresh ? " (refresh)" : " (exchange)");
            if (c.granted) {
                auto token = call();
                EXPECT_EQ(token.expiresIn, *c.granted) << context;
                // The record made from it has not expired already.
                auto record = OAuthTokenRecord::fromResponse(token, [now] { return now; });
                EXPECT_GT(record.expiresAt.seconds(), now.seconds()) << context;
            } else {
                expectError(Code::invalidResponse, call, context);
            }
        }
    }
}

TEST_F(ClientsTest, UserLookupSendsTheBearerTokenAndNeedsALogin) {
    server.respond("GET", "/api/user", 200, R"({"login":"octocat","avatar_url":"https://a.example/o.png"})");
    auto user = oauth.fetchUser("gho_a");
    EXPECT_EQ(user.login, "octocat");
    EXPECT_EQ(user.avatarURL, "https://a.example/o.png");
    auto request = server.requests("/api/user").at(0);
    EXPECT_EQ(request.header("authorization"), "Bearer gho_a");
    EXPECT_EQ(request.header("accept"), "application/vnd.github+json");

    server.respond("GET", "/api/user", 200, R"({"login":"octocat"})");
    EXPECT_FALSE(oauth.fetchUser("gho_a").avatarURL);
    server.respond("GET", "/api/user", 200, R"({"id":1})");
    expectError(
        Code::invalidResponse, [&] { oauth.fetchUser("gho_a"); }, "no login");
}

// The bearer token and the document sent are checked through the Git service's history queries.
TEST_F(ClientsTest, GraphQLSendsGitHubsHeadersAndReturnsData) {
    // An empty error list is no error.
    server.respond("POST", "/api/graphql", 200, R"({"errors":[],"data":{"viewer":{"login":"octocat"}}})");
    EXPECT_EQ(runQuery(), (Json{{"viewer", {{"login", "octocat"}}}}));

    auto requests = server.requests("/api/graphql");
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.header("accept"), "application/vnd.github.antiope-preview+json, application/json");
    EXPECT_EQ(request.header("x-github-api-version"), "2022-11-28");
    EXPECT_FALSE(request.header("user-agent").empty());
}

TEST_F(ClientsTest, GraphQLStatusesAndEnvelopesMapToTheirErrors) {
    using Code = GitHubGraphQLClientError::Code;
    struct Case {
        int status;
        const char* body;
        Code code;
        const char* text = nullptr;  // the error's text, where it is GitHub's
    };
    const Case cases[] = {
        {200, R"({"data":{"a":1},"errors":[{"message":"first"},{"message":"second"}]})", Code::graphqlErrors,
         "first\nsecond"},
        {200, R"({})", Code::emptyData},
        {200, R"({"data":null})", Code::emptyData},
        {200, R"(<html>not json gho_leak</html>)", Code::invalidResponse},
        {200, R"({"errors":[{"nomessage":1}]})", Code::invalidResponse},
        {401, R"({"message":"Bad credentials"})", Code::unauthorized},
        {403, R"({})", Code::invalidResponse},
        {502, R"({})", Code::invalidResponse},
        {302, R"({})", Code::invalidResponse},
    };
    for (const auto& c : cases) {
        server.respond("POST", "/api/graphql", c.status, c.body);
        auto error = test::thrown<GitHubGraphQLClientError>([&] { runQuery(); });
        ASSERT_TRUE(error) << c.status << " " << c.body << " returned data";
        EXPECT_EQ(error->code(), c.code) << c.status << " " << c.body;
        EXPECT_EQ(std::string(error->what()).find("leak"), std::string::npos);
        if (c.text) {
            EXPECT_STREQ(error->what(), c.text);
        }
    }
}

TEST_F(ClientsTest, TransportRedirectsAreReturnedNotFollowed) {
    server.route("GET", "/moved", [&](const test::HttpExchangeRequest&) {
        return test::HttpExchangeResponse{302, "", {{"Location", server.url("/elsewhere")}}};
    });
    CurlHttpTransport::Request request;
    request.url = server.url("/moved");
    request.headers = {{"Authorization", "Bearer gho_secret"}};
    EXPECT_EQ(CurlHttpTransport::send(request).status, 302);
    EXPECT_TRUE(server.requests("/elsewhere").empty());
}

// A connection waiting on `listener`, taken within `bound`; invalid if none came.
UniqueFd acceptWithin(int listener, std::chrono::milliseconds bound) {
    pollfd ready{listener, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(bound.count())) != 1) return UniqueFd();
    return UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

// At the end of the process every exchange still waiting is cut off, whatever its own limits and
// however long the server keeps silent, and later ones fail without connecting. The limits here are
// far beyond the test's bound, so only the stop can end the waits.
void stopWhileAServerNeverAnswers() {
    const auto listener = test::listenOnLoopback(16);
    UniqueFd listening(listener.fd);
    CurlHttpTransport::Request request;
    request.method = "POST";
    request.url = "http://127.0.0.1:" + std::to_string(listener.port) + "/graphql";
    request.body = "{}";
    request.idleTimeout = std::chrono::seconds(250);
    request.totalTimeout = std::chrono::seconds(250);
    auto sendOnce = [request] {
        auto error = test::thrown<HttpTransportError>([&] { CurlHttpTransport::send(request); });
        return error ? error->code() : std::optional<HttpTransportError::Code>();
    };

    std::vector<std::future<std::optional<HttpTransportError::Code>>> sends;
    std::vector<UniqueFd> connections;
    for (int i = 0; i < 3; ++i) {
        sends.push_back(std::async(std::launch::async, sendOnce));
        connections.push_back(acceptWithin(listening.get(), std::chrono::seconds(60)));
        ASSERT_TRUE(connections.back().valid()) << "exchange " << i << " never connected";
    }
    ProcessEnd::begin();
    for (auto& send : sends) {
        ASSERT_EQ(send.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "still waiting";
        EXPECT_EQ(send.get(), HttpTransportError::Code::failed);
    }

    EXPECT_EQ(sendOnce(), HttpTransportError::Code::failed);
    EXPECT_FALSE(acceptWithin(listening.get(), std::chrono::milliseconds(0)).valid())
        << "an exchange after the stop connected";
}

// Exit code of a child that could not make a world of its own to look names up in.
constexpr int noNamespace = 77;

// In a mount namespace of this process's own, /etc/resolv.conf names a server on loopback that takes
// every query and never answers: the lookup of the exchange's host is still under way when the stop
// comes, and must not be waited for.
void stopDuringANameLookupThatNeverEnds() {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        std::_Exit(noNamespace);
    test::TempDir dir;
    test::writeFile(dir / "resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:5\n");
    UniqueFd server(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::mount((dir / "resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 ||
        ::bind(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        std::_Exit(noNamespace);

    auto send = std::async(std::launch::async, [] {
        CurlHttpTransport::Request request;
        request.url = "http://never-resolved.example/graphql";
        request.idleTimeout = std::chrono::seconds(250);
        request.totalTimeout = std::chrono::seconds(250);
        return test::thrown<HttpTransportError>([&] { CurlHttpTransport::send(request); }).has_value();
    });
    pollfd query{server.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&query, 1, 60'000), 1) << "the name was never looked up";
    ProcessEnd::begin();
    ASSERT_EQ(send.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "the lookup was waited for";
    EXPECT_TRUE(send.get());
}

// The end of the process is for the whole process, so each check runs in a child of this test program,
// named by `childVariable`; the parent bounds the wait.
constexpr const char* childVariable = "PELKO_TEST_TRANSPORT_STOP";

std::optional<int> runStopCheckInChild(const std::string& testName) {
    return test::runTestInChild("CurlHttpTransportStopTest." + testName,
                                test::processEnvironmentWith({{childVariable, "1"}}),
                                std::chrono::seconds(200));
}

TEST(CurlHttpTransportStopTest, TheEndCutsOffExchangesAServerNeverAnswersAndRefusesLaterOnes) {
    if (Environment::process().get(childVariable)) return stopWhileAServerNeverAnswers();
    auto status = runStopCheckInChild("TheEndCutsOffExchangesAServerNeverAnswersAndRefusesLaterOnes");
    ASSERT_TRUE(status) << "the checks did not finish";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "the checks failed";
}

TEST(CurlHttpTransportStopTest, TheEndCutsOffANameLookupThatNeverEnds) {
    if (Environment::process().get(childVariable)) return stopDuringANameLookupThatNeverEnds();
    auto status = runStopCheckInChild("TheEndCutsOffANameLookupThatNeverEnds");
    ASSERT_TRUE(status) << "the checks with a silent name server did not finish";
    if (WIFEXITED(*status) && WEXITSTATUS(*status) == noNamespace)
        GTEST_SKIP() << "needs root for a mount namespace and a name server on loopback";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "the checks with a silent name server failed";
}

}  // namespace
}  // namespace pelko
