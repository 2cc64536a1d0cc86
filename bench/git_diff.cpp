// Diffs through the Git service to the page, as the app delivers them: the service's events go to the
// real bridge, whose scripts a recording web view measures.
//   BM_HundredMiBChange: a 100 MiB change, asked for as a working-tree change, as an untracked file and
//   as a commit, and then files that fill an answer to its limit; reports the largest script and how
//   far the process's peak memory grew.
//   BM_TwoThousandIdenticalDiffRequests: 2,000 identical diff requests made at once; reports how long
//   until all are answered, how many answers came, and the memory growth.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "GitBenchSupport.hpp"
#include "bridge/WebBridge.hpp"
#include "config/GitProjectProviding.hpp"
#include "git/GitService.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/MainQueue.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using pelko::bench::git;

pelko::bench::ScratchFolder scratch("pelko-bench-git-diff");

// Counts the page's scripts and keeps the largest.
class MeasuringWebView final : public pelko::ScriptEvaluating {
  public:
    void evaluateScript(const std::string& script) override {
        ++scripts;
        largest = std::max<std::size_t>(largest, script.size());
    }
    std::atomic<std::size_t> scripts = 0;
    std::atomic<std::size_t> largest = 0;
};

struct Setup {
    pelko::ProjectMetadata project;
    std::shared_ptr<pelko::bench::BenchProjects> projects = std::make_shared<pelko::bench::BenchProjects>();
    std::shared_ptr<pelko::WebBridge> bridge = pelko::WebBridge::create();
    std::shared_ptr<MeasuringWebView> webView = std::make_shared<MeasuringWebView>();
    std::shared_ptr<pelko::GitService> service;

    explicit Setup(const std::string& name) {
        fs::path path = scratch.path() / name;
        fs::create_directories(path);
        git(path, {"init", "-q", "-b", "main"});
        pelko::bench::writeRandomLines(path / "tracked.txt", 64 * 1024);
        git(path, {"add", "-A"});
        git(path, {"commit", "-q", "-m", "first"});
        project.id = pelko::Uuid::random();
        project.name = name;
        project.rootPath = path.string();
        projects->projects[project.id] = project;
        bridge->attachWebView(webView);
        bridge->notifyWebViewDidFinishNavigation();
        service = std::make_shared<pelko::GitService>(
            projects, nullptr, nullptr, std::make_shared<pelko::ProcessGitProcessRunner>(), nullptr,
            pelko::GitService::Options{.environment = pelko::bench::isolatedGitEnvironment()});
        service->setEventSink(bridge);
    }
    fs::path folder() const { return project.rootPath; }

    // Runs everything queued, the main queue (where the bridge evaluates scripts) drained meanwhile;
    // returns when the service was done, before the last scripts are flushed.
    Clock::time_point settle() {
        std::atomic<bool> done = false;
        Clock::time_point idle;
        std::thread waiter([&] {
            service->waitUntilIdle();
            idle = Clock::now();
            done = true;
        });
        pelko::MainQueue::shared().drainUntil([&] { return done.load(); }, std::chrono::minutes(5));
        waiter.join();
        pelko::MainQueue::shared().drainUntil([] { return false; }, std::chrono::milliseconds(50));
        return idle;
    }
};

double mebibytes(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

void BM_HundredMiBChange(benchmark::State& state) {
    Setup setup("hundred");
    constexpr std::size_t size = 100 * 1024 * 1024;
    pelko::bench::writeRandomLines(setup.folder() / "big.txt", 1024);
    git(setup.folder(), {"add", "big.txt"});
    git(setup.folder(), {"commit", "-q", "-m", "small"});
    pelko::bench::writeRandomLines(setup.folder() / "committed.txt", size);
    git(setup.folder(), {"add", "committed.txt"});
    git(setup.folder(), {"commit", "-q", "-m", "large"});
    pelko::bench::writeRandomLines(setup.folder() / "big.txt", size);
    pelko::bench::writeRandomLines(setup.folder() / "untracked.txt", size);
    // Files that fill one answer to its limit, the largest answer there can be.
    std::vector<pelko::GitDiffTarget> filling;
    for (int i = 0; i < 5; ++i) {
        std::string name = "part" + std::to_string(i) + ".txt";
        pelko::bench::writeRandomLines(setup.folder() / name, 3'600'000);
        filling.push_back({name, pelko::GitDiffStage::unstaged});
    }
    setup.settle();

    const long before = pelko::bench::statusKiB("/proc/self/status", "VmRSS");
    const std::size_t scriptsBefore = setup.webView->scripts;
    for (auto _ : state) {
        setup.service->fetchDiff(setup.project.id, {{"big.txt", pelko::GitDiffStage::unstaged},
                                                    {"untracked.txt", pelko::GitDiffStage::unstaged}});
        setup.service->fetchDiff(setup.project.id, {});
        setup.service->fetchCommitDiff(setup.project.id, "HEAD", std::string("committed.txt"));
        setup.service->fetchDiff(setup.project.id, filling);
        setup.settle();
    }
    const long peak = pelko::bench::statusKiB("/proc/self/status", "VmHWM");
    state.counters["largest_event_bytes"] = static_cast<double>(setup.webView->largest);
    state.counters["peak_growth_MiB"] = mebibytes(peak - before);
    state.counters["answers"] = static_cast<double>(setup.webView->scripts - scriptsBefore);
}
BENCHMARK(BM_HundredMiBChange)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TwoThousandIdenticalDiffRequests(benchmark::State& state) {
    Setup setup("identical");
    pelko::bench::writeRandomLines(setup.folder() / "tracked.txt", 64 * 1024 + 4096);
    setup.settle();
    std::size_t answers = 0;
    double growth = 0;
    for (auto _ : state) {
        const long before = pelko::bench::statusKiB("/proc/self/status", "VmRSS");
        const std::size_t scriptsBefore = setup.webView->scripts;
        const auto start = Clock::now();
        for (int i = 0; i < 2000; ++i) {
            setup.service->fetchDiff(setup.project.id, {{"tracked.txt", pelko::GitDiffStage::unstaged}});
        }
        const auto idle = setup.settle();
        state.SetIterationTime(std::chrono::duration<double>(idle - start).count());
        growth = std::max(growth, mebibytes(pelko::bench::statusKiB("/proc/self/status", "VmRSS") - before));
        answers = setup.webView->scripts - scriptsBefore;
    }
    state.counters["answers"] = static_cast<double>(answers);
    state.counters["rss_growth_MiB"] = growth;
}
BENCHMARK(BM_TwoThousandIdenticalDiffRequests)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
