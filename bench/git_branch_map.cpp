// Branch map cost: the time of one map and the number of git processes it starts, for 50 and 500
// branches, against running the same git command lines directly in one shell loop on the same
// repository.
#include <benchmark/benchmark.h>

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
const fs::path& repositoryWith(int branches) {
    static std::map<int, fs::path> repositories;
    auto& path = repositories[branches];
    if (!path.empty()) return path;
    path = scratch.path() / ("repo-" + std::to_string(branches));
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
        std::string from = ":" + std::to_string(1 + index % 40);
        if (index % 4 == 0) {
            stream += "reset " + name + "\nfrom " + from + "\n\n";
            continue;
        }
        stream += "commit " + name + "\nmark :" + std::to_string(++mark) +
                  "\ncommitter Ada <ada@example.com> " + std::to_string(1700100000 + index) + " +0000\n" +
                  data("work " + std::to_string(index)) + "from " + from + "\nM 644 inline shared-" +
                  std::to_string(index % 7) + ".txt\n" + data("branch " + std::to_string(index));
    }
    std::ofstream(path.parent_path() / ("import-" + std::to_string(branches))) << stream;
    pelko::bench::runShell(path, "git init -q -b main && git fast-import --quiet < ../import-" +
                                     std::to_string(branches) + " && git reset -q --hard main\n");
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

}  // namespace

BENCHMARK_MAIN();
