// The service's sequences against real repositories: only configured projects get one and only while
// they have work, a worker that cannot start is a failed request, and barriers keep their order with
// the refreshes that finishing operations queue, also while another project stalls.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "git/GitTestSupport.hpp"

namespace pelko {
namespace {

using test::GitRepo;

std::size_t threadCount() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                  std::filesystem::directory_iterator()));
}

// A hook that says it has started and then waits until the test lets it go; let go when it goes, so a
// failed assertion never leaves git waiting.
class HeldHook {
  public:
    HeldHook(const GitRepo& repo, const std::string& name, const std::filesystem::path& scratch)
        : started_(scratch / (name + ".started")), released_(scratch / (name + ".released")) {
        std::filesystem::remove(started_);
        std::filesystem::remove(released_);
        auto hook = repo / ".git" / "hooks" / name;
        test::writeFile(hook, "#!/bin/sh\n: > '" + started_.string() + "'\nwhile [ ! -e '" +
                                  released_.string() + "' ]; do sleep 0.01; done\n");
        EXPECT_EQ(chmod(hook.c_str(), 0755), 0);
    }
    ~HeldHook() { release(); }
    HeldHook(const HeldHook&) = delete;
    HeldHook& operator=(const HeldHook&) = delete;

    bool waitStarted() const {
        return MainQueue::shared().drainUntil([&] { return std::filesystem::exists(started_); },
                                              std::chrono::seconds(120));
    }
    void release() const { test::writeFile(released_, ""); }

  private:
    std::filesystem::path started_;
    std::filesystem::path released_;
};

// Events of one project (those that carry it) and the others, in order, as "type" or "type:requestId".
std::vector<std::string> trace(const std::vector<test::GitEvent>& events) {
    std::vector<std::string> found;
    for (const auto& event : events) {
        std::string entry = event.type;
        if (event.payload.contains("requestId")) entry += ":" + event.payload["requestId"].get<std::string>();
        if (event.type == "git/status")
            entry += ":" + event.payload["projectId"].get<std::string>().substr(0, 4);
        found.push_back(entry);
    }
    return found;
}

class GitServiceQueuesTest : public ::testing::Test {
  protected:
    test::GitServiceHarness h;
    GitRepo work{h.dir / "work"};
    Uuid id;

    void SetUp() override {
        work.git({"init", "-q"});
        work.commit("first", "README", "hello\n");
        id = h.projects->add(work.path());
    }

    GitRepo repository(const std::string& name) {
        GitRepo repo{h.dir / name};
        repo.git({"init", "-q"});
        repo.commit("first", name + ".txt", name + "\n");
        return repo;
    }
};

TEST_F(GitServiceQueuesTest, UnknownProjectsGetNoQueueNoThreadAndOnlyTheAnswersTheyAreOwed) {
    const std::size_t before = threadCount();
    constexpr int perKind = 300;
    for (int i = 0; i < perKind; ++i) {
        h.service->refreshStatus(Uuid::random());
        h.service->fetchStatusDetail(Uuid::random());
        h.service->commit(Uuid::random(), "message");
        h.service->push(Uuid::random());
        h.service->pull(Uuid::random());
        h.service->fetch(Uuid::random());
        h.service->fetchDiff(Uuid::random(), {});
        h.service->fetchCommitDiff(Uuid::random(), "HEAD", std::nullopt);
        h.service->fetchWorkingTree(Uuid::random());
        h.service->fetchRemoteTracking(Uuid::random());
        h.service->fetchCommitGraph(Uuid::random(), 10);
        h.service->fetchCommitHistory(Uuid::random(), std::nullopt, 10, "h");
        h.service->fetchBranchMap(Uuid::random(), 10);
    }
    EXPECT_EQ(h.service->projectsWithWork(), 0u);
    EXPECT_LE(threadCount(), before) << "no thread for a project nobody configured";
    // A blank message is refused whatever the project; a barrier is answered for any identifier.
    h.service->commit(Uuid::random(), "  ");
    Uuid nobody = Uuid::random();
    h.service->reachRefreshBarrier(nobody, "nobody");
    ASSERT_TRUE(h.sink->waitForType("git/refresh/barrier"));
    h.settle();
    auto events = h.sink->events();
    ASSERT_EQ(events.size(), perKind + 2u);
    for (int i = 0; i < perKind; ++i) {
        EXPECT_EQ(events[i].type, "git/branch-map/error");
        EXPECT_EQ(events[i].payload["message"], "プロジェクトを確認できません");
    }
    EXPECT_EQ(events[perKind].payload["message"], "コミットメッセージを入力してください");
    EXPECT_EQ(events[perKind + 1].payload, (Json{{"projectId", nobody.string()}, {"requestId", "nobody"}}));
    EXPECT_LE(threadCount(), before);
}

TEST_F(GitServiceQueuesTest, ARemovedProjectsSequenceGoesOnceItsWorkRanAndItIsNotMadeAgain) {
    h.service->refreshStatus(id);
    ASSERT_TRUE(h.sink->waitForType("git/status"));
    h.settle();
    EXPECT_EQ(h.service->projectsWithWork(), 0u) << "an idle project has no sequence";

    HeldHook hook(work, "pre-commit", h.dir.path());
    work.write("new.txt", "n\n");
    h.service->commit(id, "held");
    ASSERT_TRUE(hook.waitStarted());
    EXPECT_EQ(h.service->projectsWithWork(), 1u);
    h.projects->remove(id);
    h.sink->clear();
    h.service->fetchStatusDetail(id);  // no longer configured: dropped
    hook.release();
    h.settle();
    // The work asked for while the project was there still ran and reported, its refresh included.
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result", "git/status"}));
    EXPECT_EQ(h.service->projectsWithWork(), 0u);
}

TEST_F(GitServiceQueuesTest, AWorkerThatCannotStartIsAFailedRequestAndTheServiceGoesOn) {
    auto refuse = std::make_shared<std::atomic<bool>>(true);
    test::GitServiceHarness limited("https://github.com", {}, nullptr, [refuse](std::function<void()> body) {
        if (*refuse) throw std::system_error(EAGAIN, std::generic_category(), "thread");
        return std::thread(std::move(body));
    });
    Uuid known = limited.projects->add(work.path());
    const std::string reason = std::make_error_code(std::errc::resource_unavailable_try_again).message();

    limited.service->push(known);
    limited.service->refreshStatus(known);
    limited.service->fetchBranchMap(known, 10);
    limited.service->reachRefreshBarrier(known, "still");
    ASSERT_TRUE(limited.sink->waitForCount(5));
    limited.settle();
    auto events = limited.sink->events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].payload, (Json{{"success", false}, {"message", "git push の起動に失敗: " + reason}}));
    EXPECT_EQ(events[1].payload,
              (Json{{"success", false}, {"message", "git status の起動に失敗: " + reason}}));
    EXPECT_EQ(events[2].payload, GitStatusPayload::placeholder(known).toJson());
    EXPECT_EQ(events[3].type, "git/branch-map/error");
    EXPECT_EQ(events[3].payload["projectId"], known.string());
    EXPECT_EQ(events[4].payload["requestId"], "still");
    EXPECT_EQ(limited.service->projectsWithWork(), 0u) << "a refused request leaves nothing behind";

    *refuse = false;
    limited.sink->clear();
    limited.service->refreshStatus(known);
    ASSERT_TRUE(limited.sink->waitForType("git/status"));
    EXPECT_EQ(limited.sink->payloads("git/status")[0]["branch"], "main");
}

// The barrier is asked for while the commit's last hook holds it, with many other projects busy: its
// answer comes after the commit's own and before the refresh the commit queues, every time.
TEST_F(GitServiceQueuesTest, ABarrierAskedDuringACommitComesBeforeTheRefreshTheCommitQueues) {
    std::vector<std::pair<Uuid, GitRepo>> others;
    for (int i = 0; i < 20; ++i) {
        auto repo = repository("other" + std::to_string(i));
        others.emplace_back(h.projects->add(repo.path()), std::move(repo));
    }
    for (int trial = 0; trial < 15; ++trial) {
        h.sink->clear();
        HeldHook hook(work, "post-commit", h.dir.path());
        work.write("file.txt", std::to_string(trial) + "\n");
        h.service->commit(id, "trial " + std::to_string(trial));
        for (const auto& [otherId, repo] : others) h.service->refreshStatus(otherId);
        ASSERT_TRUE(hook.waitStarted());
        h.service->reachRefreshBarrier(id, "b");
        hook.release();
        h.settle();
        std::vector<std::string> mine;
        for (const auto& event : h.sink->events()) {
            if (event.type == "git/status" && event.payload["projectId"] != id.string()) continue;
            mine.push_back(event.type);
        }
        ASSERT_EQ(mine, (std::vector<std::string>{"git/result", "git/refresh/barrier", "git/status"}))
            << "trial " << trial;
        EXPECT_EQ(h.sink->payloads("git/status").size(), others.size() + 1);
    }
}

// Project Q stalls (its commit's hook waits) while P's commit finishes: P's refresh waits for the barrier
// that still waits for Q, P's own later work does not, and a barrier asked for after P's refresh was
// queued comes after it.
TEST_F(GitServiceQueuesTest, ARefreshWaitsForABarrierStillWaitingOnAStalledProjectAndHoldsUpNothing) {
    auto q = repository("stalled");
    Uuid qId = h.projects->add(q.path());
    HeldHook stall(q, "pre-commit", h.dir.path());
    HeldHook finish(work, "post-commit", h.dir.path());

    q.write("q.txt", "q\n");
    h.service->commit(qId, "stalled");
    ASSERT_TRUE(stall.waitStarted());
    work.write("p.txt", "p\n");
    h.service->commit(id, "finishing");
    ASSERT_TRUE(finish.waitStarted());
    h.service->reachRefreshBarrier(id, "b1");
    finish.release();
    ASSERT_TRUE(h.sink->waitForType("git/result"));
    h.service->fetchStatusDetail(id);
    ASSERT_TRUE(h.sink->waitForType("git/status/detail"));
    EXPECT_EQ(trace(h.sink->events()), (std::vector<std::string>{"git/result", "git/status/detail"}))
        << "P's own work goes on; its refresh waits for the barrier";
    h.service->reachRefreshBarrier(qId, "b2");

    stall.release();
    ASSERT_TRUE(h.sink->waitForCount(7));
    h.settle();
    const std::string p = id.string().substr(0, 4);
    const std::string qs = qId.string().substr(0, 4);
    EXPECT_EQ(
        trace(h.sink->events()),
        (std::vector<std::string>{"git/result", "git/status/detail", "git/result", "git/refresh/barrier:b1",
                                  "git/status:" + p, "git/refresh/barrier:b2", "git/status:" + qs}));
    EXPECT_EQ(h.service->projectsWithWork(), 0u);
}

TEST_F(GitServiceQueuesTest, AMessageOfAnyLengthIsCommittedExactlyOnStandardInput) {
    std::string message = "-F not an option\n\n";
    while (message.size() < 200 * 1024)
        message += "a line of the body that goes on " + std::to_string(message.size()) + "\n";
    work.write("long.txt", "l\n");
    h.service->commit(id, message);
    ASSERT_TRUE(h.sink->waitForCount(2));
    EXPECT_EQ(h.sink->events()[0].payload, (Json{{"success", true}, {"message", "コミットしました"}}));
    EXPECT_EQ(work.git({"log", "-1", "--format=%B"}), message + "\n");
}

}  // namespace
}  // namespace pelko
