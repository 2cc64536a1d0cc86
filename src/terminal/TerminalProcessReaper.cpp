#include "terminal/TerminalProcessReaper.hpp"

#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

namespace pelko {

TerminalProcessReaper& TerminalProcessReaper::shared() {
    // Never destroyed: its thread outlives every session and must not be joined at exit.
    static auto* reaper = new TerminalProcessReaper();
    return *reaper;
}

TerminalProcessReaper::TerminalProcessReaper() {
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    std::thread([this] { run(); }).detach();
}

void TerminalProcessReaper::adopt(pid_t pid, int pidfd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(pid)) << 32) |
                     static_cast<std::uint32_t>(pidfd);
    if (epollFd_ < 0 || epoll_ctl(epollFd_, EPOLL_CTL_ADD, pidfd, &event) != 0) {
        // Without the watch, a blocking wait on its own thread still reaps it.
        std::thread([pid, pidfd] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            close(pidfd);
        }).detach();
    }
}

void TerminalProcessReaper::run() {
    epoll_event events[16];
    for (;;) {
        int count = epoll_wait(epollFd_, events, 16, -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < count; ++i) {
            auto pid = static_cast<pid_t>(events[i].data.u64 >> 32);
            auto pidfd = static_cast<int>(events[i].data.u64 & 0xffffffffu);
            int status = 0;
            pid_t result;
            do {
                result = waitpid(pid, &status, WNOHANG);
            } while (result < 0 && errno == EINTR);
            if (result == 0) continue;  // woken early; keep watching
            epoll_ctl(epollFd_, EPOLL_CTL_DEL, pidfd, nullptr);
            close(pidfd);
        }
    }
}

}  // namespace pelko
