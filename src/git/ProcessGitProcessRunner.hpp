#pragma once
// ProcessGitProcessRunner: the one GitProcessRunning of the application, shared by every Git and
// dashboard caller. Its only state is the set of children running and whether it was stopped.
//
// The child is /usr/bin/env with the given arguments, started with posix_spawn as the leader of a
// session of its own, so of a process group of its own too, and with no controlling terminal (a hook
// that opens /dev/tty fails as it does for an application started from the desktop, and is never
// stopped by a terminal's job control): standard input from /dev/null (or a pipe that is written, without
// blocking, while the outputs are read, then closed; a child that stops reading it only ends the
// writing), standard output and error on two pipes that are read together (poll) while it runs, so
// a child that fills one pipe never blocks; no other descriptor of this process is inherited, the
// signal mask is empty and SIGPIPE default (a closed input pipe never raises SIGPIPE here). `stopAll`
// kills every running child's group at once and wakes its reader, so every run ends without waiting
// for whatever still holds the pipes. Whatever the caller passes, the child gets LC_ALL=C
// (its messages are matched in English) and GIT_TERMINAL_PROMPT=0 (it never waits for a terminal).
// Reaps only its own child. Of standard error it holds at most `keptStderrEnd` bytes at each end, so a
// hook or filter that writes to it without end costs time, never memory.
#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <set>

#include "git/GitProcessRunning.hpp"

namespace pelko {

class ProcessGitProcessRunner final : public GitProcessRunning {
  public:
    ProcessGitProcessRunner();
    ~ProcessGitProcessRunner() override;
    ProcessGitProcessRunner(const ProcessGitProcessRunner&) = delete;
    ProcessGitProcessRunner& operator=(const ProcessGitProcessRunner&) = delete;

    GitProcessExecutionResult run(const std::vector<std::string>& arguments,
                                  const std::filesystem::path& directory,
                                  const std::map<std::string, std::string>& environment) override;
    // The child leads a session and a process group of its own, so the limits end whatever it started too.
    GitProcessExecutionResult runWithin(const std::vector<std::string>& arguments,
                                        const std::filesystem::path& directory,
                                        const std::map<std::string, std::string>& environment,
                                        const GitProcessLimits& limits) override;
    GitProcessExecutionResult runWithInput(const std::vector<std::string>& arguments,
                                           const std::filesystem::path& directory,
                                           const std::map<std::string, std::string>& environment,
                                           const std::string& input, const GitProcessLimits& limits) override;
    void stopAll() override;

    // Bytes kept of each end of a long standard error: many lines of a hook's or a server's report
    // before git's own closing "fatal:" or "error:" lines, while a message to the page stays small.
    static constexpr std::size_t keptStderrEnd = std::size_t{32} * 1024;

    // Valid UTF-8 unchanged; every maximal invalid sequence becomes U+FFFD.
    static std::string decodeLossy(std::string bytes);

  private:
    GitProcessExecutionResult start(const std::vector<std::string>& arguments,
                                    const std::filesystem::path& directory,
                                    const std::map<std::string, std::string>& environment,
                                    const std::string* input, const GitProcessLimits& limits);

    std::mutex mutex_;
    std::set<pid_t> running_;  // group leaders not yet reaped, so their ids cannot have been reused
    bool stopped_ = false;
    int stopSignal_ = -1;  // an eventfd made readable by stopAll; every reader polls it
};

}  // namespace pelko
