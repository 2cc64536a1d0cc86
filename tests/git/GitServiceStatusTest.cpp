// Status, commit, push, pull, fetch, barrier, status detail and remote tracking against real
// repositories, with a local bare repository as origin.
#include <gtest/gtest.h>

#include "git/GitOutputText.hpp"
#include "git/GitTestSupport.hpp"

namespace pelko {
namespace {

using test::GitRepo;

class GitServiceStatusTest : public ::testing::Test {
  protected:
    test::GitServiceHarness h;
    GitRepo origin{h.dir / "origin.git"};
    GitRepo work{h.dir / "work"};
    GitRepo other{h.dir / "other"};
    Uuid id;

    void SetUp() override {
        origin.git({"init", "-q", "--bare"});
        GitRepo(h.dir.path()).git({"clone", "-q", origin.path().string(), work.path().string()});
        work.write("README", "hello\n");
        work.commitAll("first");
        work.git({"push", "-q", "-u", "origin", "main"});
        GitRepo(h.dir.path()).git({"clone", "-q", origin.path().string(), other.path().string()});
        id = h.projects->add(work.path());
    }

    // A commit of theirs reaches origin and work fetches it, so work is one behind.
    void theirsOnOriginFetched() {
        other.write("theirs.txt", "x\n");
        other.commitAll("theirs");
        other.git({"push", "-q"});
        work.git({"fetch", "-q"});
    }

    Json onlyPayload(const std::string& type) {
        EXPECT_TRUE(h.sink->waitForType(type));
        auto payloads = h.sink->payloads(type);
        EXPECT_EQ(payloads.size(), 1u);
        return payloads.empty() ? Json() : payloads[0];
    }
};

TEST_F(GitServiceStatusTest, StatusListsAheadBehindRenamesConflictFreeChangesAndUnquotedNames) {
    theirsOnOriginFetched();
    work.write("a.txt", "1\n");
    work.write("b.txt", "2\n");
    work.commitAll("two");
    work.write("c.txt", "3\n");
    work.commitAll("three");
    work.git({"mv", "a.txt", "renamed.txt"});
    work.write("b.txt", "changed\n");
    work.git({"add", "b.txt"});
    work.write("b.txt", "changed again\n");
    work.write("with space.txt", "s\n");
    work.write("日本語.txt", "j\n");

    h.service->refreshStatus(id);
    Json status = onlyPayload("git/status");
    EXPECT_EQ(status["projectId"], id.string());
    EXPECT_EQ(status["branch"], "main");
    EXPECT_EQ(status["ahead"], 2);
    EXPECT_EQ(status["behind"], 1);
    EXPECT_EQ(status["staged"],
              Json::parse(R"([{"path":"b.txt","status":"MM"},{"path":"renamed.txt","status":"R "}])"));
    EXPECT_EQ(status["unstaged"], Json::parse(R"([{"path":"b.txt","status":"MM"}])"));
    EXPECT_EQ(status["untracked"],
              Json::parse(R"([{"path":"with space.txt","status":"?"},{"path":"日本語.txt","status":"?"}])"));
    EXPECT_EQ(status["pending"], 5);
}

TEST_F(GitServiceStatusTest, ActiveProjectAndUnknownProjects) {
    h.service->refreshStatus(std::nullopt);    // no active project: nothing
    h.service->refreshStatus(Uuid::random());  // unknown: nothing
    h.settle();
    h.projects->setActive(id);
    h.service->refreshStatus(std::nullopt);
    h.service->reachRefreshBarrier(id, "r1");
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/status", "git/refresh/barrier"}));
    EXPECT_EQ(h.sink->payloads("git/refresh/barrier")[0],
              (Json{{"projectId", id.string()}, {"requestId", "r1"}}));
}

TEST_F(GitServiceStatusTest, FolderOutsideARepositoryGetsOneNoticeAndPlaceholders) {
    test::TempDir plain;
    Uuid plainId = h.projects->add(plain.path());
    h.service->refreshStatus(plainId);
    h.service->refreshStatus(plainId);
    ASSERT_TRUE(h.sink->waitForCount(3));
    h.settle();
    auto events = h.sink->events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].payload,
              (Json{{"success", false}, {"message", "リモートリポジトリがないプロジェクトです"}}));
    EXPECT_EQ(events[1].payload, test::GitServiceHarness::placeholderJson(plainId));
    EXPECT_EQ(events[2].payload, test::GitServiceHarness::placeholderJson(plainId));
}

TEST_F(GitServiceStatusTest, CommitRefusesBlankMessagesAndKeepsTheMessageAsGiven) {
    h.service->commit(id, " \n\t ");
    ASSERT_TRUE(h.sink->waitForCount(1));
    EXPECT_EQ(h.sink->events()[0].payload["message"], "コミットメッセージを入力してください");
    h.sink->clear();

    work.write("new.txt", "n\n");
    h.service->commit(id, "  --amend spaced  ");
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result", "git/status"}));
    EXPECT_EQ(h.sink->events()[0].payload, (Json{{"success", true}, {"message", "コミットしました"}}));
    EXPECT_EQ(h.sink->events()[1].payload["pending"], 0);
    EXPECT_EQ(work.git({"log", "-1", "--format=%B"}), "  --amend spaced\n\n");
    EXPECT_EQ(work.git({"rev-list", "--count", "HEAD"}), "2\n");
}

TEST_F(GitServiceStatusTest, PushPullAndFetchAgainstTheBareOrigin) {
    work.write("mine.txt", "m\n");
    work.commitAll("mine");
    h.service->push(id);
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->events()[0].payload, (Json{{"success", true}, {"message", "Push が完了しました"}}));
    EXPECT_EQ(h.sink->events()[1].type, "git/status");
    EXPECT_EQ(origin.git({"rev-parse", "main"}), work.git({"rev-parse", "HEAD"}));
    h.sink->clear();

    other.git({"pull", "-q"});
    other.write("theirs.txt", "t\n");
    other.commitAll("theirs");
    other.git({"push", "-q"});
    h.service->fetch(id);
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->events()[0].payload["message"], "Fetch が完了しました");
    EXPECT_EQ(h.sink->events()[1].payload["behind"], 1);
    h.sink->clear();

    h.service->pull(id);
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->events()[0].payload["message"], "Pull が完了しました");
    EXPECT_EQ(h.sink->events()[1].payload["behind"], 0);
    EXPECT_TRUE(std::filesystem::exists(work / "theirs.txt"));
}

TEST_F(GitServiceStatusTest, BarrierWaitsForEarlierWorkButNotForTheRefreshItQueued) {
    work.write("mine.txt", "m\n");
    work.commitAll("mine");
    h.service->push(id);
    h.service->reachRefreshBarrier(id, "after-push");
    ASSERT_TRUE(h.sink->waitForCount(3));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result", "git/refresh/barrier", "git/status"}));
}

TEST_F(GitServiceStatusTest, RemoteOperationsWithoutRemoteNotifyOncePerSecond) {
    work.git({"remote", "remove", "origin"});
    h.service->push(id);
    h.service->pull(id);
    h.service->fetch(id);
    h.service->reachRefreshBarrier(id, "b");
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result", "git/refresh/barrier"}));
    EXPECT_EQ(h.sink->events()[0].payload["message"], "リモートリポジトリがないプロジェクトです");
    // The notice comes back once its second has passed.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (h.sink->payloads("git/result").size() < 2 && std::chrono::steady_clock::now() < deadline) {
        h.service->fetch(id);
        h.settle();
    }
    EXPECT_EQ(h.sink->payloads("git/result").size(), 2u);
}

TEST_F(GitServiceStatusTest, StatusDetailBuildsTreesAndHeadSha) {
    work.write("src/lib/b.txt", "b\n");
    work.write("src/a.txt", "a\n");
    work.git({"add", "src"});
    work.write("README", "changed\n");
    h.service->fetchStatusDetail(id);
    Json detail = onlyPayload("git/status/detail");
    EXPECT_EQ(detail["branch"], "main");
    EXPECT_EQ(detail["headSha"], std::string(GitOutputText::trim(work.git({"rev-parse", "HEAD"}))));
    EXPECT_EQ(detail["remote"], "origin/main");
    EXPECT_EQ(detail["staged"], Json::parse(R"([{"path":"src","status":"directory","children":[
        {"path":"lib","status":"directory","children":[{"path":"b.txt","status":"added"}]},
        {"path":"a.txt","status":"added"}]}])"));
    EXPECT_EQ(detail["unstaged"], Json::parse(R"([{"path":"README","status":"modified"}])"));

    test::TempDir fresh;
    GitRepo empty(fresh.path());
    empty.git({"init", "-q"});
    h.sink->clear();
    h.service->fetchStatusDetail(h.projects->add(fresh.path()));
    EXPECT_EQ(onlyPayload("git/status/detail")["headSha"], "--");
}

TEST_F(GitServiceStatusTest, RemoteTrackingCountsAndNormalStatesWithoutUpstream) {
    theirsOnOriginFetched();
    work.write("a.txt", "1\n");
    work.commitAll("a");
    work.write("b.txt", "2\n");
    work.commitAll("b");
    h.service->fetchRemoteTracking(id);
    EXPECT_EQ(onlyPayload("git/remote/tracking"), (Json{{"projectId", id.string()},
                                                        {"branch", "main"},
                                                        {"remote", "origin/main"},
                                                        {"ahead", 2},
                                                        {"behind", 1}}));

    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> setup;
        const char* branch;
    };
    const Case cases[] = {
        {"no upstream", {{"checkout", "-q", "-b", "local"}}, "local"},
        {"detached", {{"checkout", "-q", "--detach"}}, "HEAD"},
        {"gone upstream",
         {{"checkout", "-q", "-b", "feature"},
          {"push", "-q", "-u", "origin", "feature"},
          {"push", "-q", "origin", "--delete", "feature"},
          {"fetch", "-q", "--prune"}},
         "feature"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& step : c.setup) work.git(step);
        h.sink->clear();
        h.service->fetchRemoteTracking(id);
        h.service->reachRefreshBarrier(id, "b");
        ASSERT_TRUE(h.sink->waitForCount(2));
        EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/remote/tracking", "git/refresh/barrier"}));
        EXPECT_EQ(h.sink->events()[0].payload,
                  (Json{{"projectId", id.string()}, {"branch", c.branch}, {"ahead", 0}, {"behind", 0}}));
    }

    work.git({"remote", "remove", "origin"});
    h.sink->clear();
    h.service->fetchRemoteTracking(id);
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result", "git/remote/tracking"}));
}

}  // namespace
}  // namespace pelko
