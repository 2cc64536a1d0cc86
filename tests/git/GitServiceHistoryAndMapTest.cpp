// The Git service's commit history, commit graph and branch map requests: events, their order, and
// what a refused token does, against real repositories and a loopback GraphQL server.
#include <gtest/gtest.h>

#include "git/GitTestSupport.hpp"
#include "github/CurlGitHubGraphQLClient.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

class GitServiceHistoryAndMapTest : public ::testing::Test {
  protected:
    GitServiceHistoryAndMapTest() {
        for (const char* message : {"one", "two", "three"}) repo.commit(message);
        repo.git({"remote", "add", "origin", "https://github.com/octo/repo.git"});
        projectId = h.projects->add(repo.path());
        h.auth->store(test::tokenRecord("gho_first"));
    }

    std::string graphAnswer() const {
        Json edges = Json::array();
        auto list = repo.revList();
        for (std::size_t index = 0; index < list.size(); ++index) {
            Json parents = Json::array();
            if (index + 1 < list.size()) parents.push_back({{"oid", list[index + 1]}});
            edges.push_back({{"node",
                              {{"oid", list[index]},
                               {"messageHeadline", "m"},
                               {"committedDate", "2024-01-01T00:00:00Z"},
                               {"author", {{"name", "Ada"}}},
                               {"parents", {{"nodes", parents}}}}}});
        }
        Json data = {{"repository", {{"defaultBranchRef", {{"target", {{"history", {{"edges", edges}}}}}}}}}};
        return json::encode({{"data", data}});
    }
    // Runs one graph request to its end.
    void graph() {
        h.service->fetchCommitGraph(projectId, 50);
        h.settle();
    }

    test::RoutedHttpServer server;
    test::GitServiceHarness h{
        "https://github.com", {}, std::make_shared<CurlGitHubGraphQLClient>(GitHubEndpoints{"", server.base()})};
    test::GitRepo repo;
    Uuid projectId;
};

TEST_F(GitServiceHistoryAndMapTest, RefusedTokenOnAHistoryPageIsDeletedBeforeThePageAndReportedAfterIt) {
    server.respond("POST", "/graphql", 401, R"({"message":"Bad credentials"})");
    h.service->fetchCommitHistory(projectId, std::nullopt, 5, std::string("r1"));
    ASSERT_TRUE(h.sink->waitForType("git/history/error"));

    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"github/oauth/status", "git/history", "git/result",
                                                         "git/history/error"}));
    EXPECT_EQ(h.auth->deletions(), 1);
    auto page = h.sink->payloads("git/history").at(0);
    EXPECT_EQ(page["requestId"], "r1");
    ASSERT_EQ(page["edges"].size(), 3u);
    EXPECT_EQ(page["edges"][0]["origin"], "local");
    EXPECT_EQ(h.sink->payloads("git/result").at(0)["message"],
              "コミット履歴の取得に失敗しました: GraphQL リクエストが認証されませんでした");
    EXPECT_EQ(h.sink->payloads("git/history/error").at(0),
              (Json{{"projectId", projectId.string()},
                    {"message", "GraphQL リクエストが認証されませんでした"},
                    {"requestId", "r1"}}));
    auto request = server.requests("/graphql").at(0);
    EXPECT_EQ(request.header("authorization"), "Bearer gho_first");
    EXPECT_EQ((*json::parse(request.body))["variables"]["qualifiedName"], "refs/heads/main");

    // Not signed in now: the page comes from the local history alone, without a request or an error.
    h.sink->clear();
    h.service->fetchCommitHistory(projectId, std::nullopt, 5, std::nullopt);
    ASSERT_TRUE(h.sink->waitForType("git/history"));
    EXPECT_EQ(h.sink->types(), std::vector<std::string>{"git/history"});
    EXPECT_EQ(server.requests("/graphql").size(), 1u);
}

TEST_F(GitServiceHistoryAndMapTest, CommitGraphAnswers) {
    // Not signed in: the empty graph, GitHub not asked.
    h.auth->store(std::nullopt);
    graph();
    EXPECT_EQ(h.sink->payloads("git/graph"),
              (std::vector<Json>{
                  {{"projectId", projectId.string()}, {"nodes", Json::array()}, {"edges", Json::array()}}}));
    EXPECT_TRUE(server.requests("/graphql").empty());

    h.auth->store(test::tokenRecord("gho_first"));
    server.respond("POST", "/graphql", 200, graphAnswer());
    h.sink->clear();
    graph();
    auto laidOut = h.sink->payloads("git/graph").at(0);
    ASSERT_EQ(laidOut["nodes"].size(), 3u);
    EXPECT_EQ(laidOut["edges"].size(), 2u);
    auto request = *json::parse(server.requests("/graphql").at(0).body);
    EXPECT_EQ(request["variables"], (Json{{"owner", "octo"}, {"name", "repo"}, {"pageSize", 50}}));

    // A failure that may pass: only "git/result", and the next request asks again.
    server.respond("POST", "/graphql", 502, "");
    h.sink->clear();
    graph();
    EXPECT_EQ(h.sink->types(), std::vector<std::string>{"git/result"});
    EXPECT_EQ(h.sink->payloads("git/result").at(0)["message"],
              "コミットグラフの取得に失敗しました: GraphQL 応答が不正です");

    // No data: the empty graph, now and for good, without asking again.
    server.respond("POST", "/graphql", 200, R"({"data":null})");
    graph();
    auto asked = server.requests("/graphql").size();
    h.sink->clear();
    graph();
    EXPECT_EQ(h.sink->types(), std::vector<std::string>{"git/graph"});
    EXPECT_TRUE(h.sink->payloads("git/graph").at(0)["nodes"].empty());
    EXPECT_EQ(server.requests("/graphql").size(), asked);
}

TEST_F(GitServiceHistoryAndMapTest, RefusedTokenOnTheGraphEndsWithoutAGraph) {
    server.respond("POST", "/graphql", 401, "");
    graph();
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"github/oauth/status", "git/result"}));
    EXPECT_FALSE(h.auth->stored());

    // A graph that does not decode also ends the project's graph requests.
    h.auth->store(test::tokenRecord("gho_second"));
    server.respond("POST", "/graphql", 200,
                   R"({"data":{"repository":{"defaultBranchRef":{"target":{"history":{}}}}}})");
    h.sink->clear();
    graph();
    graph();
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/graph", "git/graph"}));
    EXPECT_EQ(server.requests("/graphql").size(), 2u);
}

TEST_F(GitServiceHistoryAndMapTest, BranchMapOfAKnownAndAnUnknownProject) {
    Uuid unknown = Uuid::random();
    h.service->fetchCommitGraph(unknown, 50);
    h.service->fetchBranchMap(unknown, 50);
    h.service->fetchBranchMap(projectId, 50);
    h.settle();
    ASSERT_EQ(h.sink->types(), (std::vector<std::string>{"git/branch-map/error", "git/branch-map"}));
    EXPECT_EQ(h.sink->payloads("git/branch-map/error").at(0),
              (Json{{"projectId", unknown.string()}, {"message", "プロジェクトを確認できません"}}));
    auto map = h.sink->payloads("git/branch-map").at(0);
    EXPECT_EQ(map["repositoryState"], "ready");
    EXPECT_EQ(map["nodes"].size(), 1u);
}

}  // namespace
}  // namespace pelko
