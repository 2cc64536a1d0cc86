// Explorer speed: listing a folder of 10,000 entries against `ls -f` on the same folder, and the time
// to start watching a tree of 20,000 folders.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

#include "BenchSupport.hpp"
#include "explorer/ExplorerService.hpp"
#include "explorer/InotifyExplorerWatcher.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

pelko::bench::ScratchFolder scratch("pelko-bench-explorer");

// 10,000 entries: 1,000 folders and 9,000 files with mixed-case names.
const fs::path& wideFolder() {
    static const fs::path folder = [] {
        fs::path path = scratch.path() / "wide";
        fs::create_directories(path);
        for (int i = 0; i < 10000; ++i) {
            std::string name = (i % 3 == 0 ? "Entry-" : "entry-") + std::to_string(i * 7919 % 10007);
            if (i % 10 == 0) {
                fs::create_directory(path / name);
            } else {
                int fd = ::open((path / (name + ".txt")).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
                ::close(fd);
            }
        }
        return path;
    }();
    return folder;
}

// 20,000 folders: 20 x 20 x 50.
const fs::path& deepTree() {
    static const fs::path tree = [] {
        fs::path path = scratch.path() / "tree";
        for (int a = 0; a < 20; ++a) {
            for (int b = 0; b < 20; ++b) {
                for (int c = 0; c < 50; ++c) {
                    fs::create_directories(path / ("a" + std::to_string(a)) / ("b" + std::to_string(b)) /
                                           ("c" + std::to_string(c)));
                }
            }
        }
        return path;
    }();
    return tree;
}

void BM_ListFolderOf10000EntriesVsLs(benchmark::State& state) {
    const fs::path& folder = wideFolder();
    pelko::ExplorerService service;
    std::chrono::nanoseconds explorerTotal{0};
    std::chrono::nanoseconds lsTotal{0};
    std::size_t nodes = 0;
    std::size_t lsLines = 0;
    const auto& lsEnvironment = pelko::Environment::process().all();
    for (auto _ : state) {
        const auto start = Clock::now();
        auto result = service.listDirectories(folder, {""}, {});
        const auto elapsed = Clock::now() - start;
        nodes = result.front().nodes.size();
        benchmark::DoNotOptimize(result);
        explorerTotal += elapsed;
        // `ls -f` read through a pipe, the way a caller would consume it.
        const auto ls = pelko::bench::timeCommand({"ls", "-f", folder.string()}, {}, lsEnvironment);
        lsTotal += ls.elapsed;
        lsLines = ls.lines;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["entries"] = static_cast<double>(nodes);
    state.counters["ls_lines"] = static_cast<double>(lsLines);
    state.counters["explorer_ms"] =
        std::chrono::duration<double, std::milli>(explorerTotal).count() / iterations;
    state.counters["ls_ms"] = std::chrono::duration<double, std::milli>(lsTotal).count() / iterations;
    state.counters["ratio_vs_ls"] =
        std::chrono::duration<double>(explorerTotal).count() / std::chrono::duration<double>(lsTotal).count();
}
BENCHMARK(BM_ListFolderOf10000EntriesVsLs)->UseManualTime()->Unit(benchmark::kMillisecond);

// Until the whole tree is watched: the watcher reads events only after its first scan, so the first
// event after start marks the end of the scan.
void BM_StartWatching20000Folders(benchmark::State& state) {
    const fs::path& tree = deepTree();
    std::chrono::nanoseconds startTotal{0};
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable seen;
        bool delivered = false;
        pelko::InotifyExplorerWatcher watcher(tree, pelko::ExplorerExclusionRules());
        const auto start = Clock::now();
        bool started = watcher.start([&](std::vector<pelko::ExplorerFileEvent>) {
            std::lock_guard guard(mutex);
            delivered = true;
            seen.notify_all();
        });
        startTotal += Clock::now() - start;
        if (!started) {
            state.SkipWithError("watching did not start");
            break;
        }
        int fd = ::open((tree / "probe").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ::close(fd);
        {
            std::unique_lock guard(mutex);
            seen.wait(guard, [&] { return delivered; });
        }
        const auto elapsed = Clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        watcher.stop();
        fs::remove(tree / "probe");
    }
    state.counters["folders"] = 20000 + 400 + 20 + 1;
    state.counters["start_returns_ms"] = std::chrono::duration<double, std::milli>(startTotal).count() /
                                         static_cast<double>(state.iterations());
}
BENCHMARK(BM_StartWatching20000Folders)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
