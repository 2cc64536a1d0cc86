// The orderly end against real repositories: ending while a fetch and a push are held by what they run
// stops their git processes, waits for the workers, drops what had not started and takes no more work;
// everything can then be freed. Run it under the asan preset too.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "git/GitTestSupport.hpp"

namespace pelko {
namespace {

using test::GitRepo;

TEST(GitServiceShutdownTest, EndingDuringASlowFetchAndASlowPushStopsGitAndLeavesNothingRunning) {
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        auto h = std::make_unique<test::GitServiceHarness>();
        GitRepo origin{h->dir / "origin.git"};
        origin.git({"init", "-q", "--bare"});
        GitRepo fetching{h->dir / "fetching"};
        GitRepo(h->dir.path()).git({"clone", "-q", origin.path().string(), fetching.path().string()});
        fetching.commit("first", "a.txt", "a\n");
        fetching.git({"push", "-q", "origin", "main"});
        GitRepo pushing{h->dir / "pushing"};
        GitRepo(h->dir.path()).git({"clone", "-q", origin.path().string(), pushing.path().string()});
        pushing.commit("mine", "b.txt", "b\n");
        // The fetch's upload-pack and the push's hook start and then hold their git run.
        auto fetchPid = h->dir / "fetch.pid";
        auto pushPid = h->dir / "push.pid";
        test::writeHeldScript(h->dir / "upload-pack", fetchPid);
        fetching.git({"config", "remote.origin.uploadpack", (h->dir / "upload-pack").string()});
        test::writeHeldScript(pushing / ".git" / "hooks" / "pre-push", pushPid);
        Uuid fetchId = h->projects->add(fetching.path());
        Uuid pushId = h->projects->add(pushing.path());

        h->service->fetch(fetchId);
        h->service->push(pushId);
        h->service->refreshStatus(fetchId);  // behind the fetch: never started
        h->service->reachRefreshBarrier(pushId, "never");
        ASSERT_TRUE(MainQueue::shared().drainUntil(
            [&] { return std::filesystem::exists(fetchPid) && std::filesystem::exists(pushPid); },
            std::chrono::seconds(120)));

        h->service->shutdown();
        EXPECT_EQ(h->service->projectsWithWork(), 0u);
        // The barrier left unanswered holds up no one who waits for the service to be idle.
        auto idle = std::async(std::launch::async, [&] { h->service->waitUntilIdle(); });
        ASSERT_EQ(idle.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        for (const auto& file : {fetchPid, pushPid}) {
            std::string pid(GitOutputText::trim(test::readFile(file)));
            EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return test::processEnded(pid); },
                                                       std::chrono::seconds(60)))
                << "git's child " << pid << " outlived the end";
        }
        EXPECT_TRUE(h->sink->payloads("git/status").empty()) << "work dropped at the end never ran";
        EXPECT_TRUE(h->sink->payloads("git/refresh/barrier").empty());
        // Nothing is taken any more.
        h->sink->clear();
        h->service->refreshStatus(fetchId);
        h->service->reachRefreshBarrier(pushId, "after");
        h->service->fetchCommitHistory(fetchId, std::nullopt, 10, "h");
        MainQueue::shared().drain();
        EXPECT_EQ(h->sink->events().size(), 0u);
        EXPECT_EQ(h->service->projectsWithWork(), 0u);
        h.reset();  // the service, its sink and its folders go while nothing can touch them
        MainQueue::shared().drain();
    }
}

}  // namespace
}  // namespace pelko
