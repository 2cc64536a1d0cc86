// Commit history paging against real repositories and a loopback server standing in for GitHub's
// GraphQL API.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <charconv>
#include <condition_variable>
#include <future>
#include <mutex>

#include "git/GitCommitHistoryPager.hpp"
#include "git/GitHubHistoryQueries.hpp"
#include "git/GitLocalHistoryProvider.hpp"
#include "git/GitTestSupport.hpp"
#include "github/CurlGitHubGraphQLClient.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

using test::GitRepo;
using test::HttpExchangeRequest;
using test::HttpExchangeResponse;

// GitHub's history of one branch: `oids` newest first, paged by the request's cursor (an index).
class FakeGitHubHistory {
  public:
    FakeGitHubHistory() {
        server.route("POST", "/graphql",
                     [this](const HttpExchangeRequest& request) { return answer(request); });
    }

    std::vector<std::string> oids;
    // Answers given instead of history, by request number from 0.
    std::map<std::size_t, HttpExchangeResponse> scripted;
    test::RoutedHttpServer server;

    std::vector<Json> bodies() const {
        std::vector<Json> list;
        for (const auto& request : server.requests("/graphql")) list.push_back(*json::parse(request.body));
        return list;
    }
    // The page of `list` from `start`, as GitHub answers it.
    static HttpExchangeResponse page(const std::vector<std::string>& list, std::size_t start,
                                     std::size_t size, bool withFiles) {
        std::size_t end = std::min(list.size(), start + size);
        Json edges = Json::array();
        for (std::size_t index = start; index < end; ++index) {
            Json node = {{"oid", list[index]}, {"committedDate", "2024-01-01T00:00:00Z"}};
            if (withFiles) node["files"] = {{"nodes", Json::array()}};
            edges.push_back({{"cursor", std::to_string(index + 1)}, {"node", node}});
        }
        Json history = {{"pageInfo",
                         {{"hasNextPage", end < list.size()},
                          {"endCursor", end > start ? Json(std::to_string(end)) : Json(nullptr)}}},
                        {"edges", edges}};
        Json data = {
            {"repository", {{"ref", {{"target", {{"history", history}}}}}, {"defaultBranchRef", nullptr}}}};
        return {200, json::encode(Json{{"data", data}}), {}};
    }

  private:
    HttpExchangeResponse answer(const HttpExchangeRequest& request) {
        {
            std::lock_guard lock(mutex_);
            auto found = scripted.find(served_++);
            if (found != scripted.end()) return found->second;
        }
        Json body = *json::parse(request.body);
        const Json& variables = body["variables"];
        std::size_t start = 0;
        if (variables["cursor"].is_string()) {
            auto cursor = variables["cursor"].get<std::string>();
            std::from_chars(cursor.data(), cursor.data() + cursor.size(), start);
        }
        return page(oids, start, variables["pageSize"].get<std::size_t>(),
                    body["query"].get<std::string>().find("files(first: 100)") != std::string::npos);
    }

    std::mutex mutex_;
    std::size_t served_ = 0;
};

// The real local history, counting how often the whole history is read.
class CountingLocalHistory final : public GitLocalHistoryProviding {
  public:
    GitLocalHistoryPage loadUnpushedHistory(const ProjectMetadata& metadata, std::int64_t offset,
                                            std::int64_t limit) override {
        return real_.loadUnpushedHistory(metadata, offset, limit);
    }
    GitLocalHistoryPage loadHistory(const ProjectMetadata& metadata, std::int64_t offset,
                                    std::int64_t limit) override {
        ++wholeHistoryReads;
        return real_.loadHistory(metadata, offset, limit);
    }
    std::atomic<int> wholeHistoryReads = 0;

  private:
    GitLocalHistoryProvider real_{std::make_shared<ProcessGitProcessRunner>()};
};

class GitCommitHistoryPagerTest : public ::testing::Test {
  protected:
    GitCommitHistoryPager::Result page(const std::optional<std::string>& cursor, std::int64_t pageSize) {
        return pager.loadPage(project, {cursor, pageSize, std::nullopt, true}, access);
    }
    // Pages from `cursor` until GitHub and the local history have nothing more; the oids in delivery order.
    std::vector<std::string> allPages(std::int64_t pageSize, std::optional<std::string> cursor = {}) {
        std::vector<std::string> delivered;
        for (int guard = 0; guard < 100; ++guard) {
            auto result = page(cursor, pageSize);
            EXPECT_FALSE(result.failure) << *result.failure;
            for (const auto& edge : result.payload.edges) delivered.push_back(edge.oid);
            if (!result.payload.pageInfo.hasNextPage) return delivered;
            cursor = result.payload.cursorPayload;
        }
        ADD_FAILURE() << "paging did not end";
        return delivered;
    }
    void signIn() {
        access = [] { return GitCommitHistoryPager::RemoteAccess{"gho_token", "octo", "repo"}; };
    }
    // origin holds `pushed` commits, the project's clone adds `unpushed` more on top; GitHub has origin's.
    GitRepo& clone(int pushed, int unpushed) {
        for (int index = 0; index < pushed; ++index) origin.commit("pushed " + std::to_string(index));
        repo = GitRepo::cloneOf(origin);
        for (int index = 0; index < unpushed; ++index) repo->commit("unpushed " + std::to_string(index));
        project.rootPath = repo->path().string();
        github.oids = origin.revList();
        return *repo;
    }

    FakeGitHubHistory github;
    std::shared_ptr<CountingLocalHistory> localHistory = std::make_shared<CountingLocalHistory>();
    GitCommitHistoryPager pager{
        localHistory, std::make_shared<CurlGitHubGraphQLClient>(GitHubEndpoints{"", github.server.base()})};
    GitCommitHistoryPager::RemoteAccessProvider access = [] { return std::nullopt; };
    ProjectMetadata project = test::projectAt("");
    GitRepo origin;
    std::optional<GitRepo> repo;
};

TEST_F(GitCommitHistoryPagerTest, EveryCommitComesExactlyOnce) {
    struct Case {
        const char* title;
        int pushed;
        int unpushed;
        bool upstream;
        bool signedIn;
        std::int64_t pageSize;
    };
    const Case cases[] = {
        {"not signed in, unpushed commits fill several pages", 4, 7, true, false, 3},
        {"not signed in, unpushed commits fill the first page exactly", 3, 2, true, false, 2},
        {"not signed in, unpushed commits fill two pages exactly", 3, 4, true, false, 2},
        {"not signed in, no upstream", 0, 8, false, false, 3},
        {"signed in, unpushed commits fill several pages", 5, 4, true, true, 3},
        {"signed in, no upstream", 0, 5, false, true, 2},
        {"signed in, one page holds everything", 2, 1, true, true, 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        origin = GitRepo();
        if (c.upstream) {
            clone(c.pushed, c.unpushed);
        } else {
            // Without an upstream GitHub has nothing of this branch.
            repo = GitRepo();
            for (int index = 0; index < c.unpushed; ++index) repo->commit("local " + std::to_string(index));
            project.rootPath = repo->path().string();
            github.oids.clear();
        }
        access = [] { return std::nullopt; };
        if (c.signedIn) signIn();

        localHistory->wholeHistoryReads = 0;
        EXPECT_EQ(allPages(c.pageSize), repo->revList());
        // Without an upstream the unpushed commits are the whole history: it is not read again.
        if (!c.upstream) {
            EXPECT_EQ(localHistory->wholeHistoryReads, 0);
        }
    }
}

TEST_F(GitCommitHistoryPagerTest, PagingExampleWithTwoUnpushedCommits) {
    auto local = clone(1, 2).revList({"HEAD", "--not", "origin/main"});
    github.oids.clear();
    for (int index = 1; index <= 12; ++index) github.oids.push_back(fmt::format("{:040}", index));
    signIn();

    auto first = page(std::nullopt, 5).payload;
    std::vector<std::string> oids;
    for (const auto& edge : first.edges) oids.push_back(edge.oid + " " + edge.origin);
    EXPECT_EQ(oids,
              (std::vector<std::string>{local[0] + " local", local[1] + " local", github.oids[0] + " remote",
                                        github.oids[1] + " remote", github.oids[2] + " remote"}));
    EXPECT_EQ(first.remoteRemainingCount, 2);
    EXPECT_EQ(first.remoteCursor, "5");
    EXPECT_EQ(first.pageInfo.endCursor, "5");
    EXPECT_EQ(first.localOffset, 2);
    EXPECT_TRUE(first.pageInfo.hasNextPage);
    EXPECT_EQ(first.cursorPayload, R"({"remoteCursor":"5","localOffset":2})");

    auto second = page(first.cursorPayload, 5).payload;
    oids.clear();
    for (const auto& edge : second.edges) oids.push_back(edge.oid);
    EXPECT_EQ(oids, std::vector<std::string>(github.oids.begin() + 3, github.oids.begin() + 8));
    EXPECT_EQ(second.remoteRemainingCount, 2);
    EXPECT_EQ(second.remoteCursor, "10");
    EXPECT_EQ(second.localOffset, 2);

    auto bodies = github.bodies();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0]["variables"], (Json{{"owner", "octo"},
                                            {"name", "repo"},
                                            {"qualifiedName", "refs/heads/main"},
                                            {"pageSize", 5},
                                            {"cursor", nullptr}}));
    EXPECT_EQ(bodies[1]["variables"]["cursor"], "5");
}

TEST_F(GitCommitHistoryPagerTest, RefusedFilesFieldIsAskedAgainWithoutFilesForGood) {
    clone(3, 0);
    github.scripted[0] = {
        200, R"({"errors":[{"message":"Field 'files' doesn't exist on type 'Commit'"}]})", {}};
    signIn();

    auto first = page(std::nullopt, 2);
    EXPECT_FALSE(first.failure);
    EXPECT_EQ(first.payload.edges.size(), 2u);
    EXPECT_FALSE(pager.supportsCommitFilesField());
    page(first.payload.cursorPayload, 2);

    auto bodies = github.bodies();
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[0]["query"], std::string(GitHubHistoryQueries::commitHistory));
    EXPECT_EQ(bodies[1]["query"], std::string(GitHubHistoryQueries::commitHistoryWithoutFiles));
    EXPECT_EQ(bodies[2]["query"], std::string(GitHubHistoryQueries::commitHistoryWithoutFiles));
}

TEST_F(GitCommitHistoryPagerTest, RefusedTokenInTheMiddleFallsBackWithoutRepeatingCommits) {
    clone(6, 0);
    signIn();

    auto first = page(std::nullopt, 2);
    github.scripted[1] = {401, R"({"message":"Bad credentials"})", {}};
    auto second = page(first.payload.cursorPayload, 2);
    EXPECT_TRUE(second.unauthorized);
    EXPECT_EQ(second.failure, "GraphQL リクエストが認証されませんでした");
    // Filled from the local history, past what the first page gave.
    ASSERT_EQ(second.payload.edges.size(), 2u);
    EXPECT_EQ(second.payload.edges[0].oid, github.oids[2]);
    EXPECT_EQ(second.payload.edges[0].origin, "remote");
    EXPECT_FALSE(second.payload.remoteCursor);

    access = [] { return std::nullopt; };
    auto rest = allPages(2, second.payload.cursorPayload);
    EXPECT_EQ(rest, std::vector<std::string>(github.oids.begin() + 4, github.oids.end()));
}

TEST_F(GitCommitHistoryPagerTest, EmptyCursorsAndPageSizeZero) {
    clone(2, 3);
    signIn();

    auto none = page(std::nullopt, 0).payload;
    EXPECT_TRUE(none.edges.empty());
    EXPECT_TRUE(none.pageInfo.hasNextPage);
    EXPECT_EQ(github.bodies().back()["variables"]["pageSize"], 1);

    auto fromEmptyText = page(std::string(), 2).payload;
    EXPECT_EQ(fromEmptyText.edges.size(), 2u);
    EXPECT_EQ(fromEmptyText.edges[0].origin, "local");
    page(std::string(R"({"remoteCursor":"","localOffset":0})"), 2);
    EXPECT_TRUE(github.bodies().back()["variables"]["cursor"].is_null());

    // Text that is no cursor record is GitHub's cursor.
    page(std::string("Y3Vyc29y"), 2);
    EXPECT_EQ(github.bodies().back()["variables"]["cursor"], "Y3Vyc29y");
}

TEST_F(GitCommitHistoryPagerTest, AnOlderOverlappingRequestDoesNotOverwriteANewerPaging) {
    clone(6, 0);
    // The second request to reach GitHub is the stale one; its answer holds other commits.
    std::vector<std::string> staleOids;
    for (char last : {'0', '1', '2', '3'}) staleOids.push_back(std::string(39, 'f') + last);
    github.scripted[1] = FakeGitHubHistory::page(staleOids, 0, 4, false);
    signIn();

    // The stale request holds before asking GitHub until the fresh paging has begun.
    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false;
    bool release = false;
    auto stale = std::async(std::launch::async, [&] {
        return pager.loadPage(project, {std::nullopt, 2, std::nullopt, true}, [&] {
            std::unique_lock lock(mutex);
            waiting = true;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
            return std::optional(GitCommitHistoryPager::RemoteAccess{"gho_token", "octo", "repo"});
        });
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(120), [&] { return waiting; }));
    }
    auto fresh = page(std::nullopt, 2).payload;
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    EXPECT_EQ(stale.get().payload.edges.at(0).oid, staleOids[0]);

    auto next = page(fresh.cursorPayload, 2).payload;
    ASSERT_EQ(next.edges.size(), 2u);
    EXPECT_EQ(next.edges[0].oid, github.oids[2]);
    EXPECT_EQ(next.edges[1].oid, github.oids[3]);
}

}  // namespace
}  // namespace pelko
