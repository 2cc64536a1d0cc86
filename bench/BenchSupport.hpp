#pragma once
// What the benchmark programs share: folders of their own under $TMPDIR, an isolated git configuration,
// child processes started and timed the way a caller would run them, and small readers of files and of
// /proc. Header-only, since CMake makes a program of every bench/*.cpp.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/ScriptEvaluating.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/Environment.hpp"
#include "terminal/PTYDriver.hpp"

extern char** environ;

namespace pelko::bench {

// A new folder "<prefix>.XXXXXX" under $TMPDIR (or /tmp); the caller removes it.
inline std::filesystem::path temporaryFolder(const std::string& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + ".XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return std::filesystem::canonical(pattern);
}

// A program's scratch folder: made on first use, removed with all it holds when the program ends.
class ScratchFolder {
  public:
    explicit ScratchFolder(std::string prefix) : prefix_(std::move(prefix)) {}
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() {
        if (path_.empty()) path_ = temporaryFolder(prefix_);
        return path_;
    }

  private:
    std::string prefix_;
    std::filesystem::path path_;
};

// Runs the benchmarks the command line selects; false (after saying so) when it holds arguments that
// are not the library's.
inline bool runBenchmarks(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return true;
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// A value of a /proc/<pid>/status file in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline long statusKiB(const std::filesystem::path& statusFile, const char* key) {
    std::ifstream status(statusFile);
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// An executable shell script.
inline void writeScript(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
    std::filesystem::permissions(file, std::filesystem::perms(0755));
}

// `bytes` (or a little more) of printable lines of 21 to 120 characters, the same for every run.
inline void writeRandomLines(const std::filesystem::path& file, std::size_t bytes) {
    std::ofstream out(file, std::ios::binary);
    std::mt19937 random(7);
    std::string line;
    std::size_t written = 0;
    while (written < bytes) {
        line.clear();
        std::size_t length = 20 + random() % 100;
        for (std::size_t i = 0; i < length; ++i) line.push_back(static_cast<char>(' ' + random() % 95));
        line.push_back('\n');
        out << line;
        written += line.size();
    }
}

// The given environment with the user's and the system's git configuration shut out.
inline Environment::Map isolatedGitEnvironment(Environment::Map environment = Environment::process().all()) {
    environment["GIT_CONFIG_GLOBAL"] = "/dev/null";
    environment["GIT_CONFIG_NOSYSTEM"] = "1";
    return environment;
}

// Runs `script` with sh in `directory` under the isolated git configuration, from a file beside the
// directory (so a long script needs no long argument); stops the program when it fails.
inline void runShell(const std::filesystem::path& directory, const std::string& script) {
    std::filesystem::path file = directory.parent_path() / (directory.filename().string() + ".sh");
    std::ofstream(file) << script;
    auto result = ProcessGitProcessRunner().run({"sh", file.string()}, directory, isolatedGitEnvironment());
    if (result.status != 0) {
        std::fprintf(stderr, "shell failed: %s\n", result.stderr.c_str());
        std::abort();
    }
}

struct TimedCommand {
    std::chrono::nanoseconds elapsed{0};
    std::size_t lines = 0;
};

// Runs `arguments` (the program found on PATH) with `environment`, in `folder` unless it is empty, and
// reads its output through a pipe the way a caller would consume it, counting lines. Timed from the
// pipe's creation until the child has been reaped.
inline TimedCommand timeCommand(std::vector<std::string> arguments, const std::filesystem::path& folder,
                                const Environment::Map& environment) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);

    TimedCommand timed;
    const auto start = std::chrono::steady_clock::now();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
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
    pid_t pid = 0;
    int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (spawned != 0) std::abort();
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) timed.lines += buffer[i] == '\n';
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    timed.elapsed = std::chrono::steady_clock::now() - start;
    return timed;
}

// Starts `arguments` (the first a path) with standard input from /dev/null and both output streams in
// `output`, its environment the process's with `extraEnvironment` ("NAME=value") replacing entries of
// the same name; -1 when it cannot start.
inline pid_t spawnWithOutput(const std::vector<std::string>& arguments,
                             const std::vector<std::string>& extraEnvironment,
                             const std::filesystem::path& output) {
    // Of two entries of one name the first would win, so inherited ones give way here.
    std::vector<std::string> entries = extraEnvironment;
    for (char** entry = environ; *entry; ++entry) {
        std::string text(*entry);
        const std::string name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const auto& extra : extraEnvironment) replaced = replaced || extra.rfind(name, 0) == 0;
        if (!replaced) entries.push_back(std::move(text));
    }
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Ends a child started by spawnWithOutput and reaps it.
inline void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// Runs `script` on a bare pseudo-terminal and reads the master until the script's end; returns the
// bytes read.
inline std::uint64_t readThroughBarePseudoTerminal(const PTYDriver& driver,
                                                   const std::filesystem::path& script,
                                                   const std::filesystem::path& folder) {
    auto spawned = driver.spawn(script.string(), {}, folder, {}, 120, 40);
    int fd = spawned.masterHandle->fd();
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::uint64_t received = 0;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, -1) < 0) continue;
        ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count > 0) {
            received += static_cast<std::uint64_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            break;
        }
    }
    spawned.masterHandle->close();
    return received;
}

// A web view that only counts the scripts it is given and their bytes.
class CountingWebView : public ScriptEvaluating {
  public:
    void evaluateScript(const std::string& script) override {
        ++scripts;
        bytes += script.size();
    }
    std::size_t scripts = 0;
    std::size_t bytes = 0;
};

}  // namespace pelko::bench
