// Remote resolution, status, commit, push, pull, fetch, barrier, status detail and remote tracking
// against real repositories, with a local bare repository as origin.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "git/GitTestSupport.hpp"
#include "support/TestInChild.hpp"

namespace pelko {
namespace {

using test::GitRepo;

class GitServiceStatusTest : public ::testing::Test {
  protected:
    // The service's clock, which stands still until a test moves it.
    std::atomic<std::chrono::steady_clock::time_point> now{std::chrono::steady_clock::now()};
    test::GitServiceHarness h{"https://github.com", {}, nullptr, nullptr, [this] { return now.load(); }};
    GitRepo origin{h.dir / "origin.git"};
    GitRepo work{h.dir / "work"};
    GitRepo other{h.dir / "other"};
    Uuid id;

    void SetUp() override {
        origin.git({"init", "-q", "--bare"});
        GitRepo(h.dir.path()).git({"clone", "-q", origin.path().string(), work.path().string()});
        work.commit("first", "README", "hello\n");
        work.git({"push", "-q", "-u", "origin", "main"});
        GitRepo(h.dir.path()).git({"clone", "-q", origin.path().string(), other.path().string()});
        id = h.projects->add(work.path());
    }

    // A commit of theirs reaches origin and work fetches it, so work is one behind.
    void theirsOnOriginFetched() {
        other.commit("theirs", "theirs.txt", "x\n");
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
    work.write("b.txt", "2\n");
    work.commit("two", "a.txt", "1\n");
    work.commit("three", "c.txt", "3\n");
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
    EXPECT_EQ(events[1].payload, GitStatusPayload::placeholder(plainId).toJson());
    EXPECT_EQ(events[2].payload, GitStatusPayload::placeholder(plainId).toJson());
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
    work.commit("mine", "mine.txt", "m\n");
    h.service->push(id);
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->events()[0].payload, (Json{{"success", true}, {"message", "Push が完了しました"}}));
    EXPECT_EQ(h.sink->events()[1].type, "git/status");
    EXPECT_EQ(origin.git({"rev-parse", "main"}), work.git({"rev-parse", "HEAD"}));
    h.sink->clear();

    other.git({"pull", "-q"});
    other.commit("theirs", "theirs.txt", "t\n");
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

TEST_F(GitServiceStatusTest, AHookWritingWithoutEndReachesThePageAsItsEndsAndGitsLastLine) {
    // 1 GiB on standard error, then a closing line, then failure.
    auto failingHook = [&](const std::string& name, const std::string& lastLine) {
        auto path = work / (".git/hooks/" + name);
        test::writeFile(path,
                        "#!/bin/sh\necho checking >&2\nhead -c 1073741824 /dev/zero | tr '\\0' x >&2\n"
                        "echo >&2\necho '" +
                            lastLine + "' >&2\nexit 1\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
    };
    auto failureText = [&] {
        h.settle();
        auto results = h.sink->payloads("git/result");
        h.sink->clear();
        EXPECT_EQ(results.size(), 1u);
        if (results.empty()) return std::string();
        EXPECT_EQ(results[0]["success"], false);
        return results[0]["message"].get<std::string>();
    };
    const std::size_t bound = 2 * ProcessGitProcessRunner::keptStderrEnd + 64;

    // git commit says nothing of its own after a refusing pre-commit hook: the hook's line ends it.
    failingHook("pre-commit", "pre-commit: refused");
    work.write("new.txt", "n\n");
    h.service->commit(id, "blocked");
    std::string text = failureText();
    EXPECT_LE(text.size(), bound);
    EXPECT_TRUE(text.starts_with("checking\nxxx"));
    EXPECT_NE(
        text.find("xxx\n\u2026 (cut, " + std::to_string(9 + 1073741824 + 1 + 20) + " bytes in all)\nxxx"),
        std::string::npos);
    EXPECT_TRUE(text.ends_with("xxx\npre-commit: refused"));

    // git push closes with its own error line after a refusing pre-push hook.
    failingHook("pre-push", "pre-push: refused");
    work.git({"commit", "-q", "--no-verify", "-m", "mine"});
    h.service->push(id);
    text = failureText();
    EXPECT_LE(text.size(), bound);
    EXPECT_TRUE(text.starts_with("checking\nxxx"));
    EXPECT_NE(text.find(" bytes in all)\nxxx"), std::string::npos);
    EXPECT_TRUE(text.ends_with("xxx\npre-push: refused\nerror: failed to push some refs to '" +
                               origin.path().string() + "'"))
        << text.substr(text.size() - std::min<std::size_t>(text.size(), 200));
}

TEST_F(GitServiceStatusTest, BarrierWaitsForEarlierWorkButNotForTheRefreshItQueued) {
    work.commit("mine", "mine.txt", "m\n");
    h.service->push(id);
    h.service->reachRefreshBarrier(id, "after-push");
    ASSERT_TRUE(h.sink->waitForCount(3));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result", "git/refresh/barrier", "git/status"}));
}

// Barriers gather every project's queue: whichever project they name (or none), they come after a slow
// commit of another project, in the order asked, while that project's later requests go on.
TEST_F(GitServiceStatusTest, BarriersWaitForEveryProjectsEarlierWorkAndHoldUpNoProject) {
    // The commit's hook waits until the test lets it go (on a loaded machine it may start late).
    auto released = h.dir / "released";
    auto hook = work / ".git" / "hooks" / "pre-commit";
    test::writeFile(hook, "#!/bin/sh\nwhile [ ! -e '" + released.string() + "' ]; do sleep 0.02; done\n");
    ASSERT_EQ(chmod(hook.c_str(), 0755), 0);
    struct Release {
        std::filesystem::path file;
        ~Release() { test::writeFile(file, ""); }  // a failed assertion never leaves the hook waiting
    } release{released};
    GitRepo b{h.dir / "b"};
    b.git({"init", "-q"});
    b.commit("first", "b.txt", "b\n");
    Uuid bId = h.projects->add(b.path());
    h.service->refreshStatus(bId);
    ASSERT_TRUE(h.sink->waitForType("git/status"));
    h.sink->clear();

    work.write("slow.txt", "s\n");
    h.service->commit(id, "slow");
    h.service->reachRefreshBarrier(bId, "for-b");
    h.service->reachRefreshBarrier(Uuid::random(), "for-nobody");
    h.service->refreshStatus(bId);
    ASSERT_TRUE(h.sink->waitForType("git/status"));
    EXPECT_EQ(h.sink->types(), std::vector<std::string>{"git/status"})
        << "B is answered while A's commit waits";

    test::writeFile(released, "");
    ASSERT_TRUE(h.sink->waitForCount(5));
    h.settle();
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/status", "git/result", "git/refresh/barrier",
                                                         "git/refresh/barrier", "git/status"}));
    auto barriers = h.sink->payloads("git/refresh/barrier");
    EXPECT_EQ(barriers[0], (Json{{"projectId", bId.string()}, {"requestId", "for-b"}}));
    EXPECT_EQ(barriers[1]["requestId"], "for-nobody");
    // The commit's own status refresh was queued after the barriers, so it comes after them.
    EXPECT_EQ(h.sink->payloads("git/status")[1]["projectId"], id.string());

    // With nothing queued anywhere a barrier is answered at once.
    h.sink->clear();
    h.service->reachRefreshBarrier(id, "idle");
    ASSERT_TRUE(h.sink->waitForType("git/refresh/barrier"));
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
    // Not again within its second, however long the runs took; again once it has passed.
    now = now.load() + std::chrono::milliseconds(999);
    h.service->fetch(id);
    h.settle();
    EXPECT_EQ(h.sink->payloads("git/result").size(), 1u);
    now = now.load() + std::chrono::milliseconds(1);
    h.service->fetch(id);
    h.settle();
    EXPECT_EQ(h.sink->payloads("git/result").size(), 2u);
}

// The remote exists, so nothing stops the run; git's own "no upstream" is what gives the notice.
TEST_F(GitServiceStatusTest, PushOfABranchWithoutUpstreamNotifiesOncePerSecond) {
    work.git({"checkout", "-q", "-b", "topic"});
    h.service->push(id);
    h.service->push(id);
    h.service->reachRefreshBarrier(id, "b");
    ASSERT_TRUE(h.sink->waitForType("git/refresh/barrier"));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result", "git/refresh/barrier"}));
    EXPECT_EQ(h.sink->events()[0].payload,
              (Json{{"success", false}, {"message", "リモートリポジトリがないプロジェクトです"}}));
    now = now.load() + std::chrono::seconds(1);
    h.service->push(id);
    h.settle();
    EXPECT_EQ(h.sink->payloads("git/result").size(), 2u);
    EXPECT_EQ(origin.git({"branch", "--list", "topic"}), "");
}

TEST_F(GitServiceStatusTest, StatusDetailBuildsTreesAndHeadSha) {
    work.write("src/lib/b.txt", "b\n");
    work.write("src/a.txt", "a\n");
    work.git({"add", "src"});
    work.write("README", "changed\n");
    h.service->fetchStatusDetail(id);
    Json detail = onlyPayload("git/status/detail");
    EXPECT_EQ(detail["branch"], "main");
    EXPECT_EQ(detail["headSha"], work.head());
    EXPECT_EQ(detail["remote"], "origin/main");
    EXPECT_EQ(detail["staged"], Json::parse(R"([{"path":"src","status":"directory","children":[
        {"path":"lib","status":"directory","children":[{"path":"b.txt","status":"added"}]},
        {"path":"a.txt","status":"added"}]}])"));
    EXPECT_EQ(detail["unstaged"], Json::parse(R"([{"path":"README","status":"modified"}])"));

    GitRepo empty;
    h.sink->clear();
    h.service->fetchStatusDetail(h.projects->add(empty.path()));
    EXPECT_EQ(onlyPayload("git/status/detail")["headSha"], "--");
}

TEST_F(GitServiceStatusTest, RemoteTrackingCountsAndNormalStatesWithoutUpstream) {
    theirsOnOriginFetched();
    work.commit("a", "a.txt", "1\n");
    work.commit("b", "b.txt", "2\n");
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

TEST_F(GitServiceStatusTest, RemoteOriginUpstreamOrNothing) {
    GitRepo repo;
    EXPECT_FALSE(h.service->remoteURL(test::projectAt(repo.path())));
    repo.git({"remote", "add", "upstream", "https://example.com/up.git"});
    // Only "upstream", with no branch upstream or push default: git is asked for origin, which fails.
    EXPECT_FALSE(h.service->remoteURL(test::projectAt(repo.path())));
    repo.git({"config", "remote.pushDefault", "upstream"});
    EXPECT_EQ(h.service->remoteURL(test::projectAt(repo.path())), "https://example.com/up.git");
    repo.git({"remote", "add", "origin", "https://example.com/origin.git"});
    repo.git({"config", "submodule.lib.url", "https://example.com/lib.git"});
    EXPECT_EQ(h.service->remoteURL(test::projectAt(repo.path())), "https://example.com/origin.git");
}

TEST_F(GitServiceStatusTest, RemoteLinkedWorktreesAndSubmoduleCheckoutsFindTheirRemotes) {
    GitRepo main;
    main.commit("first");
    main.git({"remote", "add", "origin", "https://example.com/main.git"});
    main.git({"worktree", "add", "-q", (h.dir / "linked").string()});
    EXPECT_TRUE(std::filesystem::is_regular_file(h.dir / "linked" / ".git"));
    EXPECT_EQ(h.service->remoteURL(test::projectAt(h.dir / "linked")), "https://example.com/main.git");

    GitRepo super;
    super.git({"submodule", "add", "-q", main.path().string(), "lib"});
    EXPECT_TRUE(std::filesystem::is_regular_file(super / "lib" / ".git"));
    EXPECT_EQ(h.service->remoteURL(test::projectAt(super / "lib")), main.path().string());
}

// Started from a shell, this process has a controlling terminal and is its foreground job. A commit hook
// that reads the terminal (as interactive pre-commit hooks do) must never be stopped by its job control:
// the commit is answered, and so is a barrier asked after it. The checks run in a child of this test
// program that is the foreground job of a pseudo-terminal of its own; the parent bounds the wait.
void commitWithAHookThatReadsTheTerminal() {
    UniqueFd tty(::open("/dev/tty", O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(tty.valid()) << "no controlling terminal";
    ASSERT_EQ(::tcgetpgrp(tty.get()), ::getpgrp()) << "not the terminal's foreground job";

    test::GitServiceHarness h;
    GitRepo work{h.dir / "work"};
    work.git({"init", "-q"});
    work.commit("first");
    const auto ran = h.dir / "hook-ran";
    test::writeFile(work / ".git/hooks/pre-commit",
                    "#!/bin/sh\ntouch '" + ran.string() + "'\nexec < /dev/tty\nread answer\n");
    ASSERT_EQ(::chmod((work / ".git/hooks/pre-commit").c_str(), 0755), 0);
    const Uuid id = h.projects->add(work.path());
    work.write("new.txt", "n\n");
    work.git({"add", "new.txt"});

    h.service->commit(id, "asks the terminal");
    h.service->reachRefreshBarrier(id, "after");
    EXPECT_TRUE(MainQueue::shared().drainUntil(
        [&] {
            return !h.sink->payloads("git/result").empty() &&
                   !h.sink->payloads("git/refresh/barrier").empty();
        },
        std::chrono::seconds(90)))
        << "commit or barrier never answered";
    EXPECT_TRUE(std::filesystem::exists(ran));
}

constexpr const char* onTerminalVariable = "PELKO_TEST_ON_TERMINAL";

TEST(GitServiceTerminalTest, AHookThatReadsTheTerminalNeverStopsTheCommit) {
    if (Environment::process().get(onTerminalVariable)) {
        commitWithAHookThatReadsTheTerminal();
        return;
    }
    auto status = test::runTestOnTerminal(
        "GitServiceTerminalTest.AHookThatReadsTheTerminalNeverStopsTheCommit",
        test::processEnvironmentWith({{onTerminalVariable, "1"}}), std::chrono::seconds(200));
    ASSERT_TRUE(status) << "the checks on a terminal did not finish";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "the checks on a terminal failed";
}

}  // namespace
}  // namespace pelko
