#include "terminal/TerminalProcess.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/SerialQueue.hpp"
#include "terminal/TerminalProcessReaper.hpp"

namespace pelko {

namespace {

// Linux 6.9; absent from older kernel headers.
#ifndef PIDFD_SIGNAL_PROCESS_GROUP
constexpr unsigned int PIDFD_SIGNAL_PROCESS_GROUP = 1u << 2;
#endif

int pidfdSignal(int pidfd, int signal, unsigned int flags) {
    if (syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, flags) == 0) return 0;
    // A child that has been reaped has nothing left to signal.
    return errno == ESRCH ? 0 : errno;
}

}  // namespace

std::shared_ptr<TerminalProcess> TerminalProcess::watch(pid_t pid) {
    std::shared_ptr<TerminalProcess> process(new TerminalProcess(pid));
    process->startWatch();
    return process;
}

TerminalProcess::TerminalProcess(pid_t pid) : pid_(pid) {
    // Through syscall: glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    cancelFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    monitorQueue_ = std::make_shared<SerialQueue>("com.pelko.terminal.process." + std::to_string(pid));
}

void TerminalProcess::startWatch() {
    std::weak_ptr<TerminalProcess> weak = weak_from_this();
    int pidfd = pidfd_;
    int cancelFd = cancelFd_;
    monitorQueue_->async([weak, pidfd, cancelFd] {
        pollfd fds[2] = {{pidfd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        for (;;) {
            int ready = poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (fds[1].revents != 0) return;  // cancelled
            break;
        }
        if (auto process = weak.lock()) process->handleExit();
    });
}

void TerminalProcess::handleExit() {
    int status = 0;
    pid_t result;
    do {
        result = waitpid(pid_, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid_) {
        if (WIFSIGNALED(status)) {
            terminationStatus_ = -WTERMSIG(status);
        } else {
            terminationStatus_ = WEXITSTATUS(status);
        }
    }
    // The flag turns under the lock, so a handler set at the same moment runs exactly once.
    TerminationHandler handler;
    {
        std::lock_guard lock(handlerMutex_);
        terminated_ = true;
        handler = terminationHandler_;
    }
    if (handler) handler(*this);
}

void TerminalProcess::setTerminationHandler(TerminationHandler handler) {
    TerminationHandler callNow;
    {
        std::lock_guard lock(handlerMutex_);
        terminationHandler_ = std::move(handler);
        if (terminated_) callNow = terminationHandler_;
    }
    if (callNow) callNow(*this);
}

bool TerminalProcess::hasExited() const {
    if (terminated_) return true;
    pollfd entry{pidfd_, POLLIN, 0};
    return pidfd_ >= 0 && poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

int TerminalProcess::sendSignal(int signal) const {
    return pidfdSignal(pidfd_, signal, 0);
}

int TerminalProcess::sendGroupSignal(int signal) const {
    int error = pidfdSignal(pidfd_, signal, PIDFD_SIGNAL_PROCESS_GROUP);
    return error == EINVAL ? pidfdSignal(pidfd_, signal, 0) : error;
}

TerminalProcess::~TerminalProcess() {
    if (cancelFd_ >= 0) {
        std::uint64_t one = 1;
        (void)!::write(cancelFd_, &one, sizeof one);
    }
    // Joins the watch (or detaches when this is its own thread).
    monitorQueue_.reset();
    if (cancelFd_ >= 0) close(cancelFd_);
    if (terminated_) {
        if (pidfd_ >= 0) close(pidfd_);
    } else if (pidfd_ >= 0) {
        TerminalProcessReaper::shared().adopt(pid_, pidfd_);
    }
}

}  // namespace pelko
