#include "terminal/PTYDriver.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace pelko {

namespace {

using Code = PTYDriverError::Code;

std::uint16_t clampSize(std::int64_t value) {
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(value, 0, 65535));
}

// Closes what it holds unless released.
struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0) close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

struct SpawnResources {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    bool hasActions = false;
    bool hasAttributes = false;
    ~SpawnResources() {
        if (hasActions) posix_spawn_file_actions_destroy(&actions);
        if (hasAttributes) posix_spawnattr_destroy(&attributes);
    }
};

void check(int result) {
    if (result != 0) throw PTYDriverError(Code::spawnFailed, result);
}

}  // namespace

PTYDriver::PTYDriver(Environment baseEnvironment) : baseEnvironment_(std::move(baseEnvironment)) {}

Environment::Map PTYDriver::childEnvironment(const std::map<std::string, std::string>& overrides) const {
    Environment::Map result = baseEnvironment_.all();
    for (const auto& [name, value] : overrides) {
        if (value.empty() && result.count(name)) continue;
        result[name] = value;
    }
    result.try_emplace("TERM", "xterm-256color");
    result.try_emplace("COLORTERM", "truecolor");
    result["PELKO_TERMINAL"] = "1";
    // The zsh bootstrap marks the shell it restored; a Pelko started from inside such a shell must not
    // pass that mark on, or its own sessions would skip the restore and never read the user's files.
    result.erase("PELKO_ZDOTDIR_RESTORED");
    return result;
}

PTYProcess PTYDriver::spawn(const std::string& shell, const std::vector<std::string>& arguments,
                            const std::filesystem::path& workingDirectory,
                            const std::map<std::string, std::string>& environment, std::int64_t cols,
                            std::int64_t rows) const {
    winsize size{};
    size.ws_col = clampSize(cols);
    size.ws_row = clampSize(rows);

    FdGuard master;
    FdGuard slave;
    // A null attribute record gives the kernel's sane defaults for a new pseudo-terminal.
    if (openpty(&master.fd, &slave.fd, nullptr, nullptr, &size) != 0) {
        throw PTYDriverError(Code::openPTYFailed, errno);
    }
    fcntl(master.fd, F_SETFD, FD_CLOEXEC);
    fcntl(slave.fd, F_SETFD, FD_CLOEXEC);
    termios attributes{};
    if (tcgetattr(slave.fd, &attributes) == 0) {
        attributes.c_iflag |= IUTF8;
        tcsetattr(slave.fd, TCSANOW, &attributes);
    }

    char pathBuffer[128];
    if (ptsname_r(master.fd, pathBuffer, sizeof pathBuffer) != 0)
        throw PTYDriverError(Code::missingSlavePath);
    std::string slavePath(pathBuffer);

    int flags = fcntl(master.fd, F_GETFL);
    if (flags < 0 || fcntl(master.fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        throw PTYDriverError(Code::nonBlockingSetupFailed, errno);
    }

    Environment::Map childEnv = childEnvironment(environment);
    std::vector<std::string> envStrings;
    envStrings.reserve(childEnv.size());
    for (const auto& [name, value] : childEnv) {
        envStrings.push_back(std::string(name).append("=").append(value));
    }
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (auto& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings;
    argStrings.push_back(shell);
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(argStrings.size() + 1);
    for (auto& entry : argStrings) argv.push_back(entry.data());
    argv.push_back(nullptr);

    SpawnResources spawn;
    check(posix_spawn_file_actions_init(&spawn.actions));
    spawn.hasActions = true;
    // After setsid the child opens the slave by name without O_NOCTTY: it becomes the controlling
    // terminal of the new session.
    check(posix_spawn_file_actions_addopen(&spawn.actions, 0, slavePath.c_str(), O_RDWR, 0));
    check(posix_spawn_file_actions_adddup2(&spawn.actions, 0, 1));
    check(posix_spawn_file_actions_adddup2(&spawn.actions, 0, 2));
    check(posix_spawn_file_actions_addchdir_np(&spawn.actions, workingDirectory.c_str()));
    check(posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3));

    check(posix_spawnattr_init(&spawn.attributes));
    spawn.hasAttributes = true;
    sigset_t emptyMask;
    sigemptyset(&emptyMask);
    check(posix_spawnattr_setsigmask(&spawn.attributes, &emptyMask));
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGTSTP, SIGTTIN, SIGTTOU, SIGWINCH,
                    SIGALRM, SIGUSR1, SIGUSR2}) {
        sigaddset(&defaults, sig);
    }
    check(posix_spawnattr_setsigdefault(&spawn.attributes, &defaults));
    check(posix_spawnattr_setflags(&spawn.attributes,
                                   POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

    pid_t pid = 0;
    check(posix_spawn(&pid, shell.c_str(), &spawn.actions, &spawn.attributes, argv.data(), envp.data()));
    // The child has its own descriptor for the slave now; ours would hide the end of its output.
    ::close(slave.release());
    return PTYProcess{TerminalProcess::watch(pid), std::make_shared<TerminalMasterHandle>(master.release())};
}

void PTYDriver::sendSignal(const TerminalProcess& process, int masterFd, int signal) {
    bool terminalSignal = signal == SIGINT || signal == SIGQUIT || signal == SIGTSTP;
    if (terminalSignal && masterFd >= 0 && tcgetpgrp(masterFd) > 0 && ioctl(masterFd, TIOCSIG, signal) == 0)
        return;
    if (int error = process.sendGroupSignal(signal); error != 0)
        throw PTYDriverError(Code::signalFailed, error);
}

}  // namespace pelko
