#pragma once
// What the Git benchmarks share: git run under the isolated configuration as a committer, a map of
// projects for the service to look up, and an event sink that ignores what a benchmark does not count.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "config/GitProjectProviding.hpp"
#include "git/GitService.hpp"
#include "git/GitServiceEventSink.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/MainQueue.hpp"

namespace pelko::bench {

// Runs `git <arguments>` in `folder` as a fixed committer; stops the program when git fails.
inline void git(const std::filesystem::path& folder, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(),
                     {"git", "-c", "user.name=Bench", "-c", "user.email=bench@pelko.invalid"});
    auto result = ProcessGitProcessRunner().run(arguments, folder, isolatedGitEnvironment());
    if (result.status != 0) {
        std::fprintf(stderr, "%s failed: %s\n", arguments[5].c_str(), result.stderr.c_str());
        std::abort();
    }
}

class BenchProjects final : public GitProjectProviding {
  public:
    std::map<Uuid, ProjectMetadata> projects;
    AppConfig config() const override { return {}; }
    std::optional<ProjectMetadata> project(const Uuid& id) const override {
        auto found = projects.find(id);
        if (found == projects.end()) return std::nullopt;
        return found->second;
    }
};

// How long a `git/status` round trip through `service` takes: from the request until `statuses`, which
// the benchmark's sink counts up for each status, has grown (the main queue drained meanwhile).
inline std::chrono::nanoseconds timedStatus(GitService& service, const Uuid& projectID,
                                            const std::atomic<int>& statuses,
                                            std::chrono::nanoseconds bound) {
    const int before = statuses;
    const auto start = std::chrono::steady_clock::now();
    service.refreshStatus(projectID);
    MainQueue::shared().drainUntil([&] { return statuses > before; },
                                   std::chrono::duration_cast<std::chrono::milliseconds>(bound));
    return std::chrono::steady_clock::now() - start;
}

// Every event ignored; a benchmark overrides the ones it counts.
class IgnoringGitSink : public GitServiceEventSink {
  public:
    void gitServiceDidUpdateStatus(const GitStatusPayload&) override {}
    void gitServiceDidSucceed(const std::string&) override {}
    void gitServiceDidFail(const std::string&) override {}
    void gitServiceDidLoadDiff(const GitDiffPayload&) override {}
    void gitServiceDidLoadCommitDiff(const GitCommitDiffPayload&) override {}
    void gitServiceDidLoadWorkingTree(const GitWorkingTreePayload&) override {}
    void gitServiceDidReachRefreshBarrier(const GitRefreshBarrierPayload&) override {}
    void gitServiceDidLoadBranchMap(const GitBranchMapPayload&) override {}
    void gitServiceDidFailBranchMap(const GitBranchMapErrorPayload&) override {}
    void gitServiceDidLoadCommitHistory(const GitCommitHistoryPayload&) override {}
    void gitServiceDidFailCommitHistory(const GitCommitHistoryErrorPayload&) override {}
    void gitServiceDidLoadCommitGraph(const GitCommitGraphPayload&) override {}
    void gitServiceDidLoadStatusDetail(const GitStatusDetailPayload&) override {}
    void gitServiceDidUpdateRemoteTracking(const GitRemoteTrackingPayload&) override {}
    void gitServiceDidUpdateOAuthStatus(const GitOAuthStatusPayload&) override {}
};

}  // namespace pelko::bench
