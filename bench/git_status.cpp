// Git status speed: the status of a repository of 100,000 files through GitService (project lookup
// on the main thread, the git run, parsing, the typed event and its JSON text) against the very
// `git status` command line and environment the service ran, started directly on the same repository,
// in the same run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "GitBenchSupport.hpp"
#include "config/GitProjectProviding.hpp"
#include "git/GitProcessRunning.hpp"
#include "git/GitService.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/Json.hpp"
#include "platform/MainQueue.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using pelko::bench::git;

pelko::bench::ScratchFolder scratch("pelko-bench-git");

// 100,000 committed files in 1,000 folders; then 1,000 of them changed and 1,000 new ones, so the
// status has lines to read. Every file is dated an hour back, so none is racily clean.
const fs::path& repository() {
    static const fs::path root = [] {
        fs::path path = scratch.path() / "repo";
        const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
        auto writeFile = [&](const fs::path& file, const std::string& text) {
            std::ofstream(file, std::ios::binary) << text;
            fs::last_write_time(file, past);
        };
        for (int folder = 0; folder < 1000; ++folder) {
            fs::path dir = path / ("module" + std::to_string(folder));
            fs::create_directories(dir);
            for (int file = 0; file < 100; ++file) {
                writeFile(dir / ("file" + std::to_string(file) + ".txt"),
                          "line " + std::to_string(file) + "\n");
            }
        }
        git(path, {"init", "-q", "-b", "main"});
        git(path, {"add", "-A"});
        git(path, {"commit", "-q", "-m", "files"});
        for (int i = 0; i < 1000; ++i) {
            fs::path dir = path / ("module" + std::to_string(i));
            writeFile(dir / "file0.txt", "changed\n");
            writeFile(dir / "new.txt", "new\n");
        }
        return path;
    }();
    return root;
}

// The real runner, keeping the last `git status` command line and environment the service used.
class RecordingRunner final : public pelko::GitProcessRunning {
  public:
    pelko::GitProcessExecutionResult run(const std::vector<std::string>& arguments, const fs::path& directory,
                                         const std::map<std::string, std::string>& environment) override {
        if (arguments.size() > 1 && arguments[1] == "status") {
            std::lock_guard lock(mutex_);
            status_ = {arguments, environment};
            // What the runner itself sets for every git it starts.
            status_.second["LC_ALL"] = "C";
            status_.second["GIT_TERMINAL_PROMPT"] = "0";
        }
        return real_.run(arguments, directory, environment);
    }
    std::pair<std::vector<std::string>, pelko::Environment::Map> status() const {
        std::lock_guard lock(mutex_);
        return status_;
    }

  private:
    pelko::ProcessGitProcessRunner real_;
    mutable std::mutex mutex_;
    std::pair<std::vector<std::string>, pelko::Environment::Map> status_;
};

// Encodes each status as the bridge would and counts it.
class CountingSink final : public pelko::bench::IgnoringGitSink {
  public:
    std::atomic<int> statuses = 0;
    std::atomic<std::size_t> files = 0;
    std::atomic<std::size_t> bytes = 0;

    void gitServiceDidUpdateStatus(const pelko::GitStatusPayload& payload) override {
        bytes = pelko::json::encode(payload.toJson()).size();
        files = static_cast<std::size_t>(payload.pending);
        ++statuses;
    }
    void gitServiceDidFail(const std::string& message) override {
        std::fprintf(stderr, "status failed: %s\n", message.c_str());
    }
};

void BM_StatusOf100000FilesVsGitStatus(benchmark::State& state) {
    const fs::path& root = repository();
    pelko::ProjectMetadata project;
    project.id = pelko::Uuid::random();
    project.name = "bench";
    project.rootPath = root.string();
    auto sink = std::make_shared<CountingSink>();
    auto projects = std::make_shared<pelko::bench::BenchProjects>();
    projects->projects[project.id] = project;
    auto runner = std::make_shared<RecordingRunner>();
    auto service = std::make_shared<pelko::GitService>(
        projects, nullptr, nullptr, runner, nullptr,
        pelko::GitService::Options{"github.com", pelko::bench::isolatedGitEnvironment()});
    service->setEventSink(sink);

    auto throughService = [&] {
        return pelko::bench::timedStatus(*service, project.id, sink->statuses, std::chrono::minutes(5));
    };
    // Both warm the same caches once before anything is measured; the service's run also shows which
    // command line and environment the direct run repeats.
    throughService();
    const auto recorded = runner->status();
    const auto& command = recorded.first;
    const auto& environment = recorded.second;
    if (command.empty()) {
        state.SkipWithError("the service ran no git status");
        return;
    }
    auto direct = [&] { return pelko::bench::timeCommand(command, root, environment); };
    std::size_t directLines = 0;
    direct();

    std::chrono::nanoseconds serviceTotal{0};
    std::chrono::nanoseconds directTotal{0};
    for (auto _ : state) {
        const auto elapsed = throughService();
        serviceTotal += elapsed;
        const auto run = direct();
        directTotal += run.elapsed;
        directLines = run.lines;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
    std::string commandLine;
    for (const auto& argument : command) commandLine += (commandLine.empty() ? "" : " ") + argument;
    state.SetLabel(commandLine);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["status_files"] = static_cast<double>(sink->files);
    state.counters["direct_lines"] = static_cast<double>(directLines);
    state.counters["event_bytes"] = static_cast<double>(sink->bytes);
    state.counters["service_ms"] =
        std::chrono::duration<double, std::milli>(serviceTotal).count() / iterations;
    state.counters["direct_ms"] = std::chrono::duration<double, std::milli>(directTotal).count() / iterations;
    state.counters["ratio_vs_git_status"] = std::chrono::duration<double>(serviceTotal).count() /
                                            std::chrono::duration<double>(directTotal).count();
}
BENCHMARK(BM_StatusOf100000FilesVsGitStatus)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(5.0);

}  // namespace

BENCHMARK_MAIN();
