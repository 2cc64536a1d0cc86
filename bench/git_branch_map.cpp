// Branch map cost: the time of one map and the number of git processes it starts, for 50 and 500
// branches, against running the same git command lines directly in one shell loop on the same
// repository; and at scale, 2,000 and 10,000 branches all on one commit or mixed (merged, and unmerged
// with a commit of their own on shared files), the time, the git runs and the peak memory one map
// adds (VmHWM reset through /proc/self/clear_refs before it), with the default limit of 50 nodes and
// with every node; and a branch whose tip has a 50 MiB subject.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "git/GitBranchMapProvider.hpp"
#include "git/ProcessGitProcessRunner.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

pelko::bench::ScratchFolder scratch("pelko-bench-branch-map");

// Records every command line it runs.
class RecordingRunner final : public pelko::GitProcessRunning {
  public:
    pelko::GitProcessExecutionResult run(const std::vector<std::string>& arguments, const fs::path& directory,
                                         const std::map<std::string, std::string>& environment) override {
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(arguments);
        }
        return runner_.run(arguments, directory, pelko::bench::isolatedGitEnvironment(environment));
    }
    std::vector<std::vector<std::string>> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(commands_, {});
    }

  private:
    pelko::ProcessGitProcessRunner runner_;
    std::mutex mutex_;
    std::vector<std::vector<std::string>> commands_;
};

// A repository whose main line has 40 commits and `branches` branches: every fourth one at a commit of
// main (merged), the others with a commit of their own on seven shared files (unmerged, overlapping).
// With `oneCommit`, every branch points at main's tip instead.
const fs::path& repositoryWith(int branches, bool oneCommit = false) {
    static std::map<std::pair<int, bool>, fs::path> repositories;
    auto& path = repositories[{branches, oneCommit}];
    if (!path.empty()) return path;
    path = scratch.path() / ("repo-" + std::to_string(branches) + (oneCommit ? "-one" : ""));
    fs::create_directories(path);
    std::string stream;
    int mark = 0;
    auto data = [](const std::string& text) {
        return "data " + std::to_string(text.size()) + "\n" + text + "\n";
    };
    for (int index = 1; index <= 40; ++index) {
        stream += "commit refs/heads/main\nmark :" + std::to_string(++mark) +
                  "\ncommitter Ada <ada@example.com> " + std::to_string(1700000000 + index) + " +0000\n" +
                  data("main " + std::to_string(index)) + "M 644 inline main.txt\n" +
                  data("line " + std::to_string(index));
    }
    for (int index = 0; index < branches; ++index) {
        std::string name = "refs/heads/branch-" + std::to_string(index);
        std::string from = ":" + std::to_string(oneCommit ? 40 : 1 + index % 40);
        if (oneCommit || index % 4 == 0) {
            stream += "reset " + name + "\nfrom " + from + "\n\n";
            continue;
        }
        stream += "commit " + name + "\nmark :" + std::to_string(++mark) +
                  "\ncommitter Ada <ada@example.com> " + std::to_string(1700100000 + index) + " +0000\n" +
                  data("work " + std::to_string(index)) + "from " + from + "\nM 644 inline shared-" +
                  std::to_string(index % 7) + ".txt\n" + data("branch " + std::to_string(index));
    }
    const std::string import = "import-" + path.filename().string();
    std::ofstream(path.parent_path() / import) << stream;
    pelko::bench::runShell(path, "git init -q -b main && git fast-import --quiet < ../" + import +
                                     " && git reset -q --hard main\n");
    return path;
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

void BM_BranchMapVsShellLoop(benchmark::State& state) {
    const int branches = static_cast<int>(state.range(0));
    const fs::path& repository = repositoryWith(branches);
    auto runner = std::make_shared<RecordingRunner>();
    pelko::GitBranchMapProvider provider(runner);
    pelko::ProjectMetadata project{pelko::Uuid::random(), "bench", repository.string(), std::nullopt, {}};

    std::chrono::nanoseconds mapTotal{0};
    std::chrono::nanoseconds shellTotal{0};
    std::size_t processes = 0;
    std::size_t nodes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto map = provider.loadBranchMap(project, 0);
        const auto elapsed = Clock::now() - start;
        nodes = map.nodes.size();
        auto commands = runner->take();
        processes = commands.size();
        mapTotal += elapsed;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());

        std::string script = "export GIT_TERMINAL_PROMPT=0 GIT_OPTIONAL_LOCKS=0 LC_ALL=C\n";
        for (const auto& command : commands) {
            for (const auto& argument : command) script += quoted(argument) + " ";
            script += ">/dev/null 2>&1\n";
        }
        script += "exit 0\n";
        const auto shellStart = Clock::now();
        pelko::bench::runShell(repository, script);
        shellTotal += Clock::now() - shellStart;
    }
    const double iterations = static_cast<double>(state.iterations());
    const double mapMs = std::chrono::duration<double, std::milli>(mapTotal).count() / iterations;
    const double shellMs = std::chrono::duration<double, std::milli>(shellTotal).count() / iterations;
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["git_processes"] = static_cast<double>(processes);
    state.counters["map_ms"] = mapMs;
    state.counters["shell_loop_ms"] = shellMs;
    state.counters["ratio_vs_shell"] = mapMs / shellMs;
}
BENCHMARK(BM_BranchMapVsShellLoop)
    ->Arg(50)
    ->Arg(500)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Counts the runs; none is kept.
class CountingRunner final : public pelko::GitProcessRunning {
  public:
    pelko::GitProcessExecutionResult run(const std::vector<std::string>& arguments, const fs::path& directory,
                                         const std::map<std::string, std::string>& environment) override {
        ++runs_;
        return runner_.run(arguments, directory, pelko::bench::isolatedGitEnvironment(environment));
    }
    pelko::GitProcessExecutionResult runWithin(const std::vector<std::string>& arguments,
                                               const fs::path& directory,
                                               const std::map<std::string, std::string>& environment,
                                               const pelko::GitProcessLimits& limits) override {
        ++runs_;
        return runner_.runWithin(arguments, directory, pelko::bench::isolatedGitEnvironment(environment),
                                 limits);
    }
    std::size_t take() { return std::exchange(runs_, 0); }

  private:
    pelko::ProcessGitProcessRunner runner_;
    std::size_t runs_ = 0;
};

long kibOfThisProcess(const char* key) {
    return pelko::bench::statusKiB("/proc/self/status", key);
}

// Arguments: branches, 1 for all on one commit (0 mixed), the node limit (0 for every node).
void BM_BranchMapAtScale(benchmark::State& state) {
    const int branches = static_cast<int>(state.range(0));
    const fs::path& repository = repositoryWith(branches, state.range(1) != 0);
    auto runner = std::make_shared<CountingRunner>();
    pelko::GitBranchMapProvider provider(runner);
    pelko::ProjectMetadata project{pelko::Uuid::random(), "bench", repository.string(), std::nullopt, {}};

    // Memory freed earlier goes back to the system first, so the peak counts only what this map adds.
    auto resetPeak = [] {
        ::malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        return kibOfThisProcess("VmRSS");
    };
    double seconds = 0;
    double mapPeakMb = 0;
    double eventPeakMb = 0;
    std::size_t runs = 0;
    std::size_t nodes = 0;
    std::size_t eventBytes = 0;
    for (auto _ : state) {
        long before = resetPeak();
        const auto start = Clock::now();
        auto map = provider.loadBranchMap(project, state.range(2));
        const auto elapsed = Clock::now() - start;
        mapPeakMb = static_cast<double>(kibOfThisProcess("VmHWM") - before) / 1024.0;
        runs = runner->take();
        seconds = std::chrono::duration<double>(elapsed).count();
        state.SetIterationTime(seconds);
        nodes = map.nodes.size();
        // The bridge's encoding of the event, on top of the map it holds.
        eventBytes = pelko::json::encode(map.toJson()).size();
        eventPeakMb = static_cast<double>(kibOfThisProcess("VmHWM") - before) / 1024.0;
    }
    state.counters["branches"] = branches;
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["git_runs"] = static_cast<double>(runs);
    state.counters["map_s"] = seconds;
    state.counters["map_peak_MB"] = mapPeakMb;
    state.counters["with_event_peak_MB"] = eventPeakMb;
    state.counters["event_KB"] = static_cast<double>(eventBytes) / 1024.0;
}
BENCHMARK(BM_BranchMapAtScale)
    ->ArgNames({"branches", "oneCommit", "limit"})
    ->Args({2000, 1, 50})
    ->Args({2000, 0, 50})
    ->Args({2000, 0, 0})
    ->Args({10000, 1, 50})
    ->Args({10000, 0, 50})
    ->Args({10000, 1, 0})
    ->Args({10000, 0, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// A branch whose tip has a 50 MiB subject, and two more refs at that commit: the event and the peak
// memory one map adds.
void BM_BranchMapHugeSubject(benchmark::State& state) {
    const fs::path repository = scratch.path() / "repo-huge-subject";
    if (!fs::exists(repository)) {
        fs::create_directories(repository);
        std::string subject(std::size_t{50} * 1024 * 1024, 's');
        std::ofstream(scratch.path() / "import-huge")
            << "commit refs/heads/main\ncommitter Ada <ada@example.com> 1700000000 +0000\ndata "
            << subject.size() << "\n"
            << subject
            << "\nM 644 inline a.txt\ndata 2\na\n\nreset refs/heads/second\nfrom refs/heads/main\n\n"
            << "reset refs/heads/third\nfrom refs/heads/main\n\n";
        pelko::bench::runShell(
            repository,
            "git init -q -b main && git fast-import --quiet < ../import-huge && git reset -q --hard main\n");
    }
    auto runner = std::make_shared<CountingRunner>();
    pelko::GitBranchMapProvider provider(runner);
    pelko::ProjectMetadata project{pelko::Uuid::random(), "bench", repository.string(), std::nullopt, {}};
    double peakMb = 0;
    std::size_t eventBytes = 0;
    for (auto _ : state) {
        ::malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = kibOfThisProcess("VmRSS");
        const auto start = Clock::now();
        auto map = provider.loadBranchMap(project, 50);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        eventBytes = pelko::json::encode(map.toJson()).size();
        peakMb = static_cast<double>(kibOfThisProcess("VmHWM") - before) / 1024.0;
    }
    state.counters["git_runs"] = static_cast<double>(runner->take());
    state.counters["event_KB"] = static_cast<double>(eventBytes) / 1024.0;
    state.counters["with_event_peak_MB"] = peakMb;
}
BENCHMARK(BM_BranchMapHugeSubject)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
