#pragma once
// Runs one test of this test program again in a child process with an environment of the caller's
// choosing (a private bus, say), and waits for it within a bound.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pelko::test {

// The child's wait status, or nullopt when it did not end within `bound` (it is killed then).
// `environment` holds "NAME=value" entries and is all the child gets.
inline std::optional<int> runTestInChild(const std::string& testName, std::vector<std::string> environment,
                                         std::chrono::seconds bound) {
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=" + testName;
    char* argv[] = {program.data(), filter.data(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return std::nullopt;

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

}  // namespace pelko::test
