#pragma once
// Runs one test of this test program again in a child process with an environment of the caller's
// choosing (a private bus, say), and waits for it within a bound.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/UniqueFd.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

namespace detail {

// With `terminal`, the child leads a session of its own whose controlling terminal that is (opened as
// its standard input), so the child is the terminal's foreground job.
inline std::optional<int> runInChild(const std::string& testName, std::vector<std::string> environment,
                                     std::chrono::seconds bound, const char* terminal) {
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=" + testName;
    char* argv[] = {program.data(), filter.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (terminal) {
        posix_spawn_file_actions_addopen(&actions, 0, terminal, O_RDWR, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    }
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) return std::nullopt;

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done != 0) return status;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return std::nullopt;
}

}  // namespace detail

// The child's wait status, or nullopt when it did not end within `bound` (it is killed then).
// `environment` holds "NAME=value" entries and is all the child gets.
inline std::optional<int> runTestInChild(const std::string& testName, std::vector<std::string> environment,
                                         std::chrono::seconds bound) {
    return detail::runInChild(testName, std::move(environment), bound, nullptr);
}

// As runTestInChild, with a new pseudo-terminal as the child's controlling terminal and the child its
// foreground job, as a program started from a shell is. Nothing is typed on it.
inline std::optional<int> runTestOnTerminal(const std::string& testName, std::vector<std::string> environment,
                                            std::chrono::seconds bound) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.valid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) return std::nullopt;
    char name[128];
    if (::ptsname_r(master.get(), name, sizeof name) != 0) return std::nullopt;
    return detail::runInChild(testName, std::move(environment), bound, name);
}

}  // namespace pelko::test
