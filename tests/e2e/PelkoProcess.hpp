#pragma once
// The real application, started for a test: build/bin/pelko beside the test program, with its own
// XDG folders and resource bundle, stopped when the object goes away.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Environment.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

inline std::filesystem::path binFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

inline std::int64_t nowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

class PelkoProcess {
  public:
    // Starts `program` with the test's environment plus `overrides`; output goes to `outputFile`.
    PelkoProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& overrides,
                 const std::filesystem::path& outputFile) {
        std::vector<std::string> entries = processEnvironmentWith(overrides);
        std::vector<char*> envp;
        for (auto& entry : entries) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<std::string> args{program.string()};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        startedAt = nowMilliseconds();
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    ~PelkoProcess() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    PelkoProcess(const PelkoProcess&) = delete;
    PelkoProcess& operator=(const PelkoProcess&) = delete;

    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    pid_t pid() const { return pid_; }
    void signal(int number) const {
        if (pid_ > 0) ::kill(pid_, number);
    }
    // The wait status once the process has ended within `timeout`; nothing while it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

    std::int64_t startedAt = 0;

  private:
    pid_t pid_ = -1;
};

// Polls a condition until it holds or the deadline passes.
inline bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

}  // namespace pelko::test
