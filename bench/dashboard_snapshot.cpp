// Dashboard snapshot cost for 20 projects of 5,000 commits each: cold (new service, no caches, remotes
// not yet resolved), forced (remotes known, both caches bypassed) and cached (the five-minute snapshot
// cache), each with the number of git processes it starts. No token is stored, so the languages come
// from the local walk and nothing leaves the machine.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dashboard/DashboardLanguagesProvider.hpp"
#include "dashboard/DashboardMetricsService.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/Environment.hpp"

namespace fs = std::filesystem;

namespace {

constexpr int projectCount = 20;
constexpr int commitsPerProject = 5000;

fs::path gScratch;

class CountingRunner final : public pelko::GitProcessRunning {
  public:
    pelko::GitProcessExecutionResult run(const std::vector<std::string>& arguments, const fs::path& directory,
                                         const std::map<std::string, std::string>& environment) override {
        ++processes;
        auto isolated = environment;
        isolated["GIT_CONFIG_GLOBAL"] = "/dev/null";
        isolated["GIT_CONFIG_NOSYSTEM"] = "1";
        return runner_.run(arguments, directory, isolated);
    }
    std::atomic<long> processes{0};

  private:
    pelko::ProcessGitProcessRunner runner_;
};

class NoToken final : public pelko::GitAuthProviding {
  public:
    bool hasToken() const override { return false; }
    std::optional<pelko::OAuthTokenRecord> loadToken() const override { return std::nullopt; }
    void deleteToken() override {}
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

void runShell(const fs::path& directory, const std::string& script) {
    auto environment = pelko::Environment::process().all();
    environment["GIT_CONFIG_GLOBAL"] = "/dev/null";
    environment["GIT_CONFIG_NOSYSTEM"] = "1";
    auto result = pelko::ProcessGitProcessRunner().run({"sh", "-c", script}, directory, environment);
    if (result.status != 0) {
        std::fprintf(stderr, "setup failed: %s\n", result.stderr.c_str());
        std::abort();
    }
}

// One repository of 5,000 commits over the last 120 days (so every window has commits), with a few
// source files, copied 20 times with their own origin remotes.
const std::shared_ptr<BenchProjects>& projects() {
    static std::shared_ptr<BenchProjects> provider = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/pelko-bench-dashboard.XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        gScratch = fs::canonical(pattern);

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
        const fs::path seed = gScratch / "seed";
        fs::create_directories(seed);
        std::ofstream(gScratch / "import") << stream;
        runShell(seed,
                 "git init -q -b main && git fast-import --quiet < ../import && git reset -q --hard main");

        auto provider = std::make_shared<BenchProjects>();
        for (int index = 0; index < projectCount; ++index) {
            const fs::path copy = gScratch / ("project-" + std::to_string(index));
            fs::copy(seed, copy, fs::copy_options::recursive);
            runShell(copy,
                     "git remote add origin git@github.com:bench/project-" + std::to_string(index) + ".git");
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
        snapshot = service->fetchSnapshot(false);
    }
    report(state, *runner, snapshot);
}
BENCHMARK(BM_DashboardSnapshotCold)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DashboardSnapshotForced(benchmark::State& state) {
    auto runner = std::make_shared<CountingRunner>();
    auto service = makeService(runner);
    service->fetchSnapshot(false);
    runner->processes = 0;
    pelko::DashboardSnapshot snapshot;
    for (auto _ : state) snapshot = service->fetchSnapshot(true);
    report(state, *runner, snapshot);
}
BENCHMARK(BM_DashboardSnapshotForced)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DashboardSnapshotCached(benchmark::State& state) {
    auto runner = std::make_shared<CountingRunner>();
    auto service = makeService(runner);
    service->fetchSnapshot(false);
    runner->processes = 0;
    pelko::DashboardSnapshot snapshot;
    for (auto _ : state) snapshot = service->fetchSnapshot(false);
    report(state, *runner, snapshot);
}
BENCHMARK(BM_DashboardSnapshotCached)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!gScratch.empty()) {
        std::error_code ignored;
        fs::remove_all(gScratch, ignored);
    }
    return 0;
}
