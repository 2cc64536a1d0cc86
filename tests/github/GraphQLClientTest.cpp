// CurlGitHubGraphQLClient and the transport under it, against a loopback server standing in for
// GitHub's API host.
#include <gtest/gtest.h>

#include "github/CurlGitHubGraphQLClient.hpp"
#include "github/CurlHttpTransport.hpp"
#include "github/GitHubGraphQLClientError.hpp"
#include "github/HttpTransportError.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

using test::RoutedHttpServer;

class GraphQLClientTest : public ::testing::Test {
  protected:
    RoutedHttpServer server;
    CurlGitHubGraphQLClient client{GitHubEndpoints{server.base(), server.base() + "/api"}};

    Json run() { return client.execute("query { viewer { login } }", Json{{"first", 2}}, "gho_secret"); }
};

TEST_F(GraphQLClientTest, PostsTheDocumentWithTheBearerTokenAndReturnsData) {
    server.respond("POST", "/api/graphql", 200, R"({"data":{"viewer":{"login":"octocat"}}})");
    EXPECT_EQ(run(), (Json{{"viewer", {{"login", "octocat"}}}}));

    auto requests = server.requests("/api/graphql");
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.header("authorization"), "Bearer gho_secret");
    EXPECT_EQ(request.header("content-type"), "application/json");
    EXPECT_EQ(request.header("accept"), "application/vnd.github.antiope-preview+json, application/json");
    EXPECT_EQ(request.header("x-github-api-version"), "2022-11-28");
    EXPECT_FALSE(request.header("user-agent").empty());
    auto body = json::parse(request.body);
    ASSERT_TRUE(body);
    EXPECT_EQ((*body)["query"], "query { viewer { login } }");
    EXPECT_EQ((*body)["variables"], (Json{{"first", 2}}));
}

TEST_F(GraphQLClientTest, StatusesAndEnvelopesMapToTheirErrors) {
    using Code = GitHubGraphQLClientError::Code;
    struct Case {
        int status;
        const char* body;
        Code code;
    };
    const Case cases[] = {
        {200, R"({"data":{"a":1},"errors":[{"message":"one"}]})", Code::graphqlErrors},
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
        try {
            run();
            ADD_FAILURE() << c.status << " " << c.body << " returned data";
        } catch (const GitHubGraphQLClientError& error) {
            EXPECT_EQ(error.code(), c.code) << c.status << " " << c.body;
            EXPECT_EQ(std::string(error.what()).find("leak"), std::string::npos);
        }
    }
}

TEST_F(GraphQLClientTest, ErrorMessagesAreJoinedAndEmptyErrorListsIgnored) {
    server.respond("POST", "/api/graphql", 200, R"({"errors":[{"message":"first"},{"message":"second"}]})");
    try {
        run();
        ADD_FAILURE();
    } catch (const GitHubGraphQLClientError& error) {
        EXPECT_STREQ(error.what(), "first\nsecond");
    }
    server.respond("POST", "/api/graphql", 200, R"({"errors":[],"data":{"ok":true}})");
    EXPECT_EQ(run(), (Json{{"ok", true}}));
}

TEST_F(GraphQLClientTest, AnEmptyTokenIsRefusedWithoutARequest) {
    try {
        client.execute("query {}", Json::object(), "");
        ADD_FAILURE();
    } catch (const GitHubGraphQLClientError& error) {
        EXPECT_EQ(error.code(), GitHubGraphQLClientError::Code::unauthorized);
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(CurlHttpTransportTest, RedirectsAreReturnedNotFollowed) {
    RoutedHttpServer server;
    server.route("GET", "/moved", [&](const test::HttpExchangeRequest&) {
        return test::HttpExchangeResponse{302, "", {{"Location", server.url("/elsewhere")}}};
    });
    CurlHttpTransport::Request request;
    request.url = server.url("/moved");
    request.headers = {{"Authorization", "Bearer gho_secret"}};
    EXPECT_EQ(CurlHttpTransport::send(request).status, 302);
    EXPECT_TRUE(server.requests("/elsewhere").empty());
}

TEST(CurlHttpTransportTest, TransportFailuresNameTheirCaseOnly) {
    CurlHttpTransport::Request request;
    struct Case {
        std::string url;
        HttpTransportError::Code code;
    };
    // Port 1 on loopback has no listener in the test environment.
    const Case cases[] = {{"http://127.0.0.1:1/x", HttpTransportError::Code::cannotConnect},
                          {"file:///etc/passwd", HttpTransportError::Code::invalidURL}};
    for (const auto& c : cases) {
        request.url = c.url;
        try {
            CurlHttpTransport::send(request);
            ADD_FAILURE() << c.url;
        } catch (const HttpTransportError& error) {
            EXPECT_EQ(error.code(), c.code) << c.url << ": " << error.what();
            EXPECT_EQ(std::string(error.what()).find("127.0.0.1"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace pelko
