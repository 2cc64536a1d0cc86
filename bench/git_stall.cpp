// A stalled remote against another project's status: project A fetches from a loopback server that
// accepts and never answers, and a refresh barrier waits for it, while project B's `git/status` round
// trip is timed; the same round trip without the stall is the baseline. The difference is what the
// stall costs B.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>

#include "GitBenchSupport.hpp"
#include "config/GitProjectProviding.hpp"
#include "git/GitService.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/MainQueue.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using pelko::bench::git;

pelko::bench::ScratchFolder scratch("pelko-bench-git-stall");

// A loopback port that accepts connections into its backlog and never answers; returns fd and port.
std::pair<int, int> silentServer() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 64);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return {fd, ntohs(address.sin_port)};
}

pelko::ProjectMetadata repository(const std::string& name) {
    fs::path path = scratch.path() / name;
    fs::create_directories(path);
    git(path, {"init", "-q", "-b", "main"});
    git(path, {"commit", "-q", "--allow-empty", "-m", "first"});
    pelko::ProjectMetadata project;
    project.id = pelko::Uuid::random();
    project.name = name;
    project.rootPath = path.string();
    return project;
}

class CountingSink final : public pelko::bench::IgnoringGitSink {
  public:
    std::atomic<int> statuses = 0;
    std::atomic<int> results = 0;

    void gitServiceDidUpdateStatus(const pelko::GitStatusPayload&) override { ++statuses; }
    void gitServiceDidSucceed(const std::string&) override { ++results; }
    void gitServiceDidFail(const std::string&) override { ++results; }
};

void BM_StatusWhileAnotherProjectsRemoteStalls(benchmark::State& state) {
    auto projects = std::make_shared<pelko::bench::BenchProjects>();
    auto stalled = repository("stalled");
    auto other = repository("other");
    auto [silentFd, silentPort] = silentServer();
    git(stalled.rootPath,
        {"remote", "add", "origin", "http://127.0.0.1:" + std::to_string(silentPort) + "/x.git"});
    projects->projects[stalled.id] = stalled;
    projects->projects[other.id] = other;

    auto sink = std::make_shared<CountingSink>();
    auto service = std::make_shared<pelko::GitService>(
        projects, nullptr, nullptr, std::make_shared<pelko::ProcessGitProcessRunner>(), nullptr,
        pelko::GitService::Options{.environment = pelko::bench::isolatedGitEnvironment()});
    service->setEventSink(sink);

    auto statusOfOther = [&] {
        return pelko::bench::timedStatus(*service, other.id, sink->statuses, std::chrono::minutes(1));
    };
    statusOfOther();
    std::chrono::nanoseconds quiet{0};
    std::chrono::nanoseconds stalledTotal{0};
    for (auto _ : state) {
        const auto alone = statusOfOther();
        // Each fetch waits on the silent server for the whole silence limit.
        service->fetch(stalled.id);
        // A barrier waits for the fetch, but holds up none of the other project's requests.
        service->reachRefreshBarrier(other.id, "during-stall");
        const auto elapsed = statusOfOther();
        quiet += alone;
        stalledTotal += elapsed;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["status_ms_quiet"] = std::chrono::duration<double, std::milli>(quiet).count() / iterations;
    state.counters["status_ms_during_stall"] =
        std::chrono::duration<double, std::milli>(stalledTotal).count() / iterations;
    state.counters["delay_ms"] =
        std::chrono::duration<double, std::milli>(stalledTotal - quiet).count() / iterations;
    state.counters["fetches_answered"] = sink->results.load();
    service->shutdown();  // the stalled fetches end here, before anything they use goes
    ::close(silentFd);
}
BENCHMARK(BM_StatusWhileAnotherProjectsRemoteStalls)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
