// Explorer speed: listing a folder of 10,000 entries against `ls -f` on the same folder, and the time
// to start watching a tree of 20,000 folders.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "explorer/ExplorerService.hpp"
#include "explorer/InotifyExplorerWatcher.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

fs::path gScratch;

fs::path scratch() {
    if (gScratch.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/pelko-bench-explorer.XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        gScratch = fs::canonical(pattern);
    }
    return gScratch;
}

// 10,000 entries: 1,000 folders and 9,000 files with mixed-case names.
const fs::path& wideFolder() {
    static const fs::path folder = [] {
        fs::path path = scratch() / "wide";
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
        fs::path path = scratch() / "tree";
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

// Runs `ls -f folder` with its output read through a pipe, the way a caller would consume it.
std::chrono::nanoseconds timeLs(const fs::path& folder, std::size_t& lines) {
    const auto start = Clock::now();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string folderText = folder.string();
    char* argv[] = {const_cast<char*>("ls"), const_cast<char*>("-f"), folderText.data(), nullptr};
    pid_t pid = 0;
    int spawned = ::posix_spawnp(&pid, "ls", &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (spawned != 0) std::abort();
    char buffer[65536];
    lines = 0;
    for (;;) {
        ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) lines += buffer[i] == '\n';
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return Clock::now() - start;
}

void BM_ListFolderOf10000EntriesVsLs(benchmark::State& state) {
    const fs::path& folder = wideFolder();
    pelko::ExplorerService service;
    std::chrono::nanoseconds explorerTotal{0};
    std::chrono::nanoseconds lsTotal{0};
    std::size_t nodes = 0;
    std::size_t lsLines = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto result = service.listDirectories(folder, {""}, {});
        const auto elapsed = Clock::now() - start;
        nodes = result.front().nodes.size();
        benchmark::DoNotOptimize(result);
        explorerTotal += elapsed;
        lsTotal += timeLs(folder, lsLines);
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
