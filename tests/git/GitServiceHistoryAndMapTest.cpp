// The Git service's commit history, commit graph and branch map requests: events, their order, and
// what a refused token does, against real repositories and a loopback GraphQL server.
#include <gtest/gtest.h>

#include "git/GitHubHistoryQueries.hpp"
#include "git/GitTestSupport.hpp"
#include "github/CurlGitHubGraphQLClient.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

using test::RoutedHttpServer;

class GitServiceHistoryAndMapTest : public ::testing::Test {
  protected:
    GitServiceHistoryAndMapTest() {
        repo.git({"init", "-q", "-b", "main"});
        for (const char* message : {"one", "two", "three"}) {
            repo.write("file.txt", std::string(message) + "\n");
            repo.commitAll(message);
        }
        repo.git({"remote", "add", "origin", "https://github.com/octo/repo.git"});
        projectId = projects->add(repo.path());
        auth->store(test::tokenRecord("gho_first"));
        service = std::make_shared<GitService>(
            projects, auth, nullptr, std::make_shared<ProcessGitProcessRunner>(),
            std::make_shared<CurlGitHubGraphQLClient>(GitHubEndpoints{"", server.base()}),
            GitService::Options{"github.com", test::isolatedGitEnvironment()});
        service->setEventSink(sink);
    }

    std::vector<std::string> oids() const {
        std::vector<std::string> list;
        auto text = repo.git({"rev-list", "HEAD"});
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            list.push_back(text.substr(start, end - start));
        }
        return list;
    }
    std::string graphAnswer() const {
        Json edges = Json::array();
        auto list = oids();
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
        service->fetchCommitGraph(projectId, 50);
        settle();
    }
    void settle() { test::settle(*service); }

    test::TempDir dir;
    test::GitRepo repo{dir / "repo"};
    RoutedHttpServer server;
    std::shared_ptr<test::FakeProjects> projects = std::make_shared<test::FakeProjects>();
    std::shared_ptr<test::FakeAuth> auth = std::make_shared<test::FakeAuth>();
    std::shared_ptr<test::RecordingGitSink> sink = std::make_shared<test::RecordingGitSink>();
    std::shared_ptr<GitService> service;
    Uuid projectId;
};

TEST_F(GitServiceHistoryAndMapTest, RefusedTokenOnAHistoryPageIsDeletedBeforeThePageAndReportedAfterIt) {
    server.respond("POST", "/graphql", 401, R"({"message":"Bad credentials"})");
    service->fetchCommitHistory(projectId, std::nullopt, 5, std::string("r1"));
    ASSERT_TRUE(sink->waitForType("git/history/error"));

    EXPECT_EQ(sink->types(), (std::vector<std::string>{"github/oauth/status", "git/history", "git/result",
                                                       "git/history/error"}));
    EXPECT_EQ(auth->deletions(), 1);
    auto status = sink->payloads("github/oauth/status").at(0);
    EXPECT_EQ(status["status"], "disconnected");
    EXPECT_EQ(status["reason"], "tokenInvalid");
    EXPECT_EQ(status["account"]["login"], "octocat");

    auto page = sink->payloads("git/history").at(0);
    EXPECT_EQ(page["projectId"], projectId.string());
    EXPECT_EQ(page["requestId"], "r1");
    ASSERT_EQ(page["edges"].size(), 3u);
    EXPECT_EQ(page["edges"][0]["oid"], oids()[0]);
    EXPECT_EQ(page["edges"][0]["origin"], "local");
    EXPECT_EQ(sink->payloads("git/result").at(0)["message"],
              "コミット履歴の取得に失敗しました: GraphQL リクエストが認証されませんでした");
    EXPECT_EQ(sink->payloads("git/history/error").at(0),
              (Json{{"projectId", projectId.string()},
                    {"message", "GraphQL リクエストが認証されませんでした"},
                    {"requestId", "r1"}}));
    auto request = server.requests("/graphql").at(0);
    EXPECT_EQ(request.header("authorization"), "Bearer gho_first");
    EXPECT_EQ((*json::parse(request.body))["variables"]["qualifiedName"], "refs/heads/main");

    // Not signed in now: the page comes from the local history alone, without a request or an error.
    sink->clear();
    service->fetchCommitHistory(projectId, std::nullopt, 5, std::nullopt);
    ASSERT_TRUE(sink->waitForType("git/history"));
    EXPECT_EQ(sink->types(), std::vector<std::string>{"git/history"});
    EXPECT_EQ(server.requests("/graphql").size(), 1u);
}

TEST_F(GitServiceHistoryAndMapTest, CommitGraphAnswers) {
    // Not signed in: the empty graph, GitHub not asked.
    auth->store(std::nullopt);
    graph();
    EXPECT_EQ(sink->payloads("git/graph"),
              (std::vector<Json>{
                  {{"projectId", projectId.string()}, {"nodes", Json::array()}, {"edges", Json::array()}}}));
    EXPECT_TRUE(server.requests("/graphql").empty());

    auth->store(test::tokenRecord("gho_first"));
    server.respond("POST", "/graphql", 200, graphAnswer());
    sink->clear();
    graph();
    auto laidOut = sink->payloads("git/graph").at(0);
    ASSERT_EQ(laidOut["nodes"].size(), 3u);
    EXPECT_EQ(laidOut["nodes"][2]["lane"], 0);
    EXPECT_EQ(laidOut["edges"].size(), 2u);
    auto request = *json::parse(server.requests("/graphql").at(0).body);
    EXPECT_EQ(request["query"], std::string(GitHubHistoryQueries::commitGraph));
    EXPECT_EQ(request["variables"], (Json{{"owner", "octo"}, {"name", "repo"}, {"pageSize", 50}}));

    // A failure that may pass: only "git/result", and the next request asks again.
    server.respond("POST", "/graphql", 502, "");
    sink->clear();
    graph();
    EXPECT_EQ(sink->types(), std::vector<std::string>{"git/result"});
    EXPECT_EQ(sink->payloads("git/result").at(0)["message"],
              "コミットグラフの取得に失敗しました: GraphQL 応答が不正です");

    // No data: the empty graph, now and for good, without asking again.
    server.respond("POST", "/graphql", 200, R"({"data":null})");
    graph();
    auto asked = server.requests("/graphql").size();
    sink->clear();
    graph();
    EXPECT_EQ(sink->types(), std::vector<std::string>{"git/graph"});
    EXPECT_TRUE(sink->payloads("git/graph").at(0)["nodes"].empty());
    EXPECT_EQ(server.requests("/graphql").size(), asked);
}

TEST_F(GitServiceHistoryAndMapTest, RefusedTokenOnTheGraphEndsWithoutAGraph) {
    server.respond("POST", "/graphql", 401, "");
    graph();
    EXPECT_EQ(sink->types(), (std::vector<std::string>{"github/oauth/status", "git/result"}));
    EXPECT_EQ(sink->payloads("git/result").at(0)["message"],
              "コミットグラフの取得に失敗しました: GraphQL リクエストが認証されませんでした");
    EXPECT_FALSE(auth->stored());

    // A graph that does not decode also ends the project's graph requests.
    auth->store(test::tokenRecord("gho_second"));
    server.respond("POST", "/graphql", 200,
                   R"({"data":{"repository":{"defaultBranchRef":{"target":{"history":{}}}}}})");
    sink->clear();
    graph();
    graph();
    EXPECT_EQ(sink->types(), (std::vector<std::string>{"git/graph", "git/graph"}));
    EXPECT_EQ(server.requests("/graphql").size(), 2u);
}

TEST_F(GitServiceHistoryAndMapTest, BranchMapOfAKnownAndAnUnknownProject) {
    Uuid unknown = Uuid::random();
    service->fetchCommitGraph(unknown, 50);
    service->fetchBranchMap(unknown, 50);
    service->fetchBranchMap(projectId, 50);
    settle();
    ASSERT_EQ(sink->types(), (std::vector<std::string>{"git/branch-map/error", "git/branch-map"}));
    EXPECT_EQ(sink->payloads("git/branch-map/error").at(0),
              (Json{{"projectId", unknown.string()}, {"message", "プロジェクトを確認できません"}}));
    auto map = sink->payloads("git/branch-map").at(0);
    EXPECT_EQ(map["projectId"], projectId.string());
    EXPECT_EQ(map["repositoryState"], "ready");
    EXPECT_EQ(map["nodes"].size(), 1u);
}

}  // namespace
}  // namespace pelko
