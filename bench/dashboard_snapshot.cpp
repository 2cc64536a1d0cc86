// Dashboard snapshot cost for 20 projects of 5,000 commits each: cold (new service, no caches, remotes
// not yet resolved), forced (remotes known, both caches bypassed) and cached (the five-minute snapshot
// cache), each with the number of git processes it starts. No token is stored, so the languages come
// from the local walk and nothing leaves the machine.
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "dashboard/DashboardLanguagesProvider.hpp"
#include "dashboard/DashboardMetricsService.hpp"
#include "git/ProcessGitProcessRunner.hpp"

namespace fs = std::filesystem;

namespace {

constexpr int projectCount = 20;
constexpr int commitsPerProject = 5000;

pelko::bench::ScratchFolder scratch("pelko-bench-dashboard");

class CountingRunner final : public pelko::GitProcessRunning {
  public:
    pelko::GitProcessExecutionResult run(const std::vector<std::string>& arguments, const fs::path& directory,
                                         const std::map<std::string, std::string>& environment) override {
        ++processes;
        return runner_.run(arguments, directory, pelko::bench::isolatedGitEnvironment(environment));
    }
    std::atomic<long> processes{0};

  private:
    pelko::ProcessGitProcessRunner runner_;
};

class NoToken final : public pelko::GitAuthProviding {
  public:
    bool hasToken() const override { return false; }
    std::optional<pelko::OAuthTokenRecord> loadToken() const override { return std::nullopt; }
    bool deleteToken() override { return true; }
};

class NoAnalytics final : public pelko::AnalyticsLogging {
  public:
    void log(const std::string&, const pelko::AnalyticsProperties&) override {}
};

class BenchProjects final : public pelko::DashboardProjectProviding {
  public:
    std::vector<pelko::ProjectMetadata> projects;
    std::vector<pelko::ProjectMetadata> listActiveProjects() const override { return projects; }
};

// One repository of 5,000 commits over the last 120 days (so every window has commits), with a few
// source files, copied 20 times with their own origin remotes.
const std::shared_ptr<BenchProjects>& projects() {
    static std::shared_ptr<BenchProjects> provider = [] {
        const long now = static_cast<long>(pelko::Date::now().seconds());
        const long span = 120L * 24 * 3600;
        std::string stream;
        for (int index = 0; index < commitsPerProject; ++index) {
            std::string message = "change " + std::to_string(index);
            std::string content = "line " + std::to_string(index) + "\n";
            long when = now - span + span * index / commitsPerProject;
            stream += "commit refs/heads/main\ncommitter Ada <ada@example.com> " + std::to_string(when) +
                      " +0000\ndata " + std::to_string(message.size()) + "\n" + message +
                      "\nM 644 inline src/file" + std::to_string(index % 40) +
                      (index % 3 == 0 ? ".ts" : ".go") + "\ndata " + std::to_string(content.size()) + "\n" +
                      content + "\n";
        }
        const fs::path seed = scratch.path() / "seed";
        fs::create_directories(seed);
        std::ofstream(scratch.path() / "import") << stream;
        pelko::bench::runShell(
            seed, "git init -q -b main && git fast-import --quiet < ../import && git reset -q --hard main");

        auto provider = std::make_shared<BenchProjects>();
        for (int index = 0; index < projectCount; ++index) {
            const fs::path copy = scratch.path() / ("project-" + std::to_string(index));
            fs::copy(seed, copy, fs::copy_options::recursive);
            pelko::bench::runShell(
                copy, "git remote add origin git@github.com:bench/project-" + std::to_string(index) + ".git");
            provider->projects.push_back(
                {pelko::Uuid::random(), "project-" + std::to_string(index), copy.string(), std::nullopt, {}});
        }
        return provider;
    }();
    return provider;
}

std::unique_ptr<pelko::DashboardMetricsService> makeService(const std::shared_ptr<CountingRunner>& runner) {
    auto languages = std::make_shared<pelko::DashboardLanguagesProvider>(std::make_shared<NoToken>(), runner,
                                                                         pelko::GitHubEndpoints{});
    return std::make_unique<pelko::DashboardMetricsService>(projects(), languages, runner,
                                                            std::make_shared<NoAnalytics>());
}

void report(benchmark::State& state, const CountingRunner& runner, const pelko::DashboardSnapshot& snapshot) {
    state.counters["projects"] = static_cast<double>(snapshot.projectSummaries.size());
    state.counters["commits"] = static_cast<double>(snapshot.totalCommits);
    state.counters["git_processes"] =
        benchmark::Counter(static_cast<double>(runner.processes), benchmark::Counter::kAvgIterations);
}

void BM_DashboardSnapshotCold(benchmark::State& state) {
    projects();
    auto runner = std::make_shared<CountingRunner>();
    pelko::DashboardSnapshot snapshot;
    for (auto _ : state) {
        auto service = makeService(runner);
        snapshot = service->fetchSnapshot(service->snapshotRequest(false));
    }
    report(state, *runner, snapshot);
}
BENCHMARK(BM_DashboardSnapshotCold)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DashboardSnapshotForced(benchmark::State& state) {
    auto runner = std::make_shared<CountingRunner>();
    auto service = makeService(runner);
    service->fetchSnapshot(service->snapshotRequest(false));
    runner->processes = 0;
    pelko::DashboardSnapshot snapshot;
    for (auto _ : state) snapshot = service->fetchSnapshot(service->snapshotRequest(true));
    report(state, *runner, snapshot);
}
BENCHMARK(BM_DashboardSnapshotForced)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DashboardSnapshotCached(benchmark::State& state) {
    auto runner = std::make_shared<CountingRunner>();
    auto service = makeService(runner);
    service->fetchSnapshot(service->snapshotRequest(false));
    runner->processes = 0;
    pelko::DashboardSnapshot snapshot;
    for (auto _ : state) snapshot = service->fetchSnapshot(service->snapshotRequest(false));
    report(state, *runner, snapshot);
}
BENCHMARK(BM_DashboardSnapshotCached)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
