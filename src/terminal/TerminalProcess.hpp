#pragma once
// TerminalProcess: watches one terminal child for its exit, reaps it (waitpid on its own pid) and
// keeps its exit code: the exit status, or the negative signal number for a death by signal.
//
// The watch runs on a serial queue of its own, labelled "com.pelko.terminal.process.<pid>", blocked
// on the child's pidfd. The termination handler is called once, on that queue, after the exit has
// been seen; set after the exit, it is called at once on the setter's thread. Releasing the process
// before its exit hands the child to TerminalProcessReaper, so it never stays a zombie; its exit is
// then not reported.
//
// Signals go through the pidfd only: a pid number is never signalled, so a signal can never reach a
// process that took over the number of a child already reaped. The signalling operations may be
// called from any thread.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace pelko {

class SerialQueue;

class TerminalProcess : public std::enable_shared_from_this<TerminalProcess> {
  public:
    using TerminationHandler = std::function<void(TerminalProcess&)>;

    // Starts the exit watch at once.
    static std::shared_ptr<TerminalProcess> watch(pid_t pid);
    ~TerminalProcess();
    TerminalProcess(const TerminalProcess&) = delete;
    TerminalProcess& operator=(const TerminalProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool terminated() const { return terminated_.load(); }
    std::int32_t terminationStatus() const { return terminationStatus_.load(); }
    void setTerminationHandler(TerminationHandler handler);

    // True once the child has exited (reaped or not), even before the exit watch has run.
    bool hasExited() const;
    // Sends `signal` to the child. 0 when sent or when the child is gone; else the error number.
    int sendSignal(int signal) const;
    // Sends `signal` to the child's process group (the child leads its own); on a kernel that cannot
    // signal a group through a pidfd, to the child alone. Results as `sendSignal`.
    int sendGroupSignal(int signal) const;

  private:
    explicit TerminalProcess(pid_t pid);
    void startWatch();
    void handleExit();

    pid_t pid_;
    int pidfd_ = -1;
    int cancelFd_ = -1;
    std::atomic<std::int32_t> terminationStatus_{0};
    std::atomic<bool> terminated_{false};
    std::mutex handlerMutex_;
    TerminationHandler terminationHandler_;
    std::shared_ptr<SerialQueue> monitorQueue_;
};

}  // namespace pelko
