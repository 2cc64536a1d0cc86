#pragma once
// TerminalProcessReaper: reaps terminal children whose sessions were ended while they still ran, so
// none stays a zombie. Each adopted child is waited for through its pidfd and reaped with
// waitpid on its own pid only (never waitpid(-1)); nothing is reported.
//
// One background thread for the life of the process; `adopt` may be called from any thread and
// takes ownership of the pidfd.
#include <sys/types.h>

namespace pelko {

class TerminalProcessReaper {
  public:
    static TerminalProcessReaper& shared();

    void adopt(pid_t pid, int pidfd);

    TerminalProcessReaper(const TerminalProcessReaper&) = delete;
    TerminalProcessReaper& operator=(const TerminalProcessReaper&) = delete;

  private:
    TerminalProcessReaper();
    void run();

    int epollFd_ = -1;
};

}  // namespace pelko
