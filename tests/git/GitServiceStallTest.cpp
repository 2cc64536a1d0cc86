// A remote that accepts and then says nothing: the run ends at the silence limit as a failed fetch,
// and another project's requests are answered while it stalls (a barrier waits for it).
#include <gtest/gtest.h>
#include <unistd.h>

#include "git/GitTestSupport.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "support/LoopbackListener.hpp"

namespace pelko {
namespace {

using test::GitRepo;

TEST(GitServiceStallTest, AStalledFetchFailsAtTheLimitAndNeverHoldsUpAnotherProject) {
    test::GitServiceHarness h;
    // Accepts connections (the backlog) and never reads or answers.
    auto silent = test::listenOnLoopback(16);
    GitService::Options options;
    options.environment = test::isolatedGitEnvironment();
    options.networkSilenceLimit = std::chrono::seconds(2);
    h.service = std::make_shared<GitService>(h.projects, h.auth, h.broker,
                                             std::make_shared<ProcessGitProcessRunner>(), nullptr, options);
    h.service->setEventSink(h.sink);

    GitRepo stalled{h.dir / "stalled"};
    stalled.git({"init", "-q"});
    stalled.commit("first", "a.txt", "a\n");
    stalled.git({"remote", "add", "origin", "http://127.0.0.1:" + std::to_string(silent.port) + "/x.git"});
    GitRepo other{h.dir / "other"};
    other.git({"init", "-q"});
    other.commit("first", "b.txt", "b\n");
    Uuid stalledId = h.projects->add(stalled.path());
    Uuid otherId = h.projects->add(other.path());

    h.service->refreshStatus(otherId);
    ASSERT_TRUE(h.sink->waitForType("git/status"));
    h.sink->clear();
    h.service->fetch(stalledId);
    // A barrier waits for the stalled fetch; the other project's next request does not wait for either.
    h.service->reachRefreshBarrier(otherId, "b");
    h.service->refreshStatus(otherId);
    ASSERT_TRUE(h.sink->waitForType("git/status"));
    // The other project was answered while the fetch still hung.
    EXPECT_EQ(h.sink->types(), std::vector<std::string>{"git/status"});
    EXPECT_EQ(h.sink->payloads("git/status")[0]["projectId"], otherId.string());

    ASSERT_TRUE(h.sink->waitForType("git/refresh/barrier"));
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/status", "git/result", "git/refresh/barrier"}));
    auto result = h.sink->payloads("git/result")[0];
    EXPECT_EQ(result["success"], false);
    ::close(silent.fd);
}

TEST(GitProcessLimitsTest, AChildThatOutlivesItsLimitIsEndedWithItsGroup) {
    ProcessGitProcessRunner runner;
    test::TempDir dir;
    struct Case {
        const char* script;
        GitProcessLimits limits;
        const char* text;
    };
    using std::chrono::milliseconds;
    std::vector<Case> cases = {
        // Silent from the start; the grandchild keeps the pipes open unless the group goes too.
        {"sleep 600 & wait", {milliseconds(1000), milliseconds(0)}, "no answer from the remote for 1 s"},
        // Talks all the time, but for longer than allowed.
        {"while :; do echo tick; sleep 0.05; done",
         {milliseconds(0), milliseconds(1000)},
         "did not finish within 1 s"},
    };
    GitProcessLimits talkative;
    talkative.maxStdout = 100'000;
    // Says more than allowed without end; reading stops at the limit.
    cases.push_back({"sleep 600 & yes", talkative, "standard output over 100000 bytes"});
    for (const auto& c : cases) {
        auto result =
            runner.runWithin({"sh", "-c", c.script}, dir.path(), Environment::process().all(), c.limits);
        EXPECT_EQ(result.status, 128 + 9) << c.script;
        EXPECT_TRUE(result.stderr.ends_with(std::string("fatal: ") + c.text)) << result.stderr;
        EXPECT_EQ(result.stdoutOverLimit, c.limits.maxStdout > 0) << c.script;
        if (c.limits.maxStdout > 0) {
            EXPECT_EQ(result.stdout.size(), c.limits.maxStdout);
        }
    }
    // Within its limits a run is untouched.
    auto quick = runner.runWithin({"sh", "-c", "echo done"}, dir.path(), Environment::process().all(),
                                  {milliseconds(60'000), milliseconds(60'000)});
    EXPECT_EQ(quick.status, 0);
    EXPECT_EQ(quick.stdout, "done\n");
}

}  // namespace
}  // namespace pelko
