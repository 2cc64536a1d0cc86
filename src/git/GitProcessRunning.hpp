#pragma once
// GitProcessRunning: runs one `git` command line and hands back its exit status and both outputs.
//
// Callable from any thread, also concurrently; each call owns its process and pipes and blocks the
// calling thread until the child has ended and both of its streams are closed. `run` has no time-out
// and keeps all of standard output; `runWithin` ends a child (and the process group it leads) that
// outlives its limits or writes more standard output than it allows, and holds no more of it than
// that. Standard error is bounded in both: it is read to its end, but only its first and last bytes
// are kept (git's own last lines, which callers match and show, come at its end). It never throws:
// a process that cannot be started comes back with status -1, empty `stdout` and the launch error's
// description as `stderr`. It attaches no meaning to a non-zero status; callers do. `runWithInput`
// gives the child standard input (written while both outputs are read, then closed), every other run
// reads /dev/null. After `stopAll` no child of the runner is left and no new one starts.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace pelko {

struct GitProcessExecutionResult {
    // The exit status; 128 plus the signal for a child killed by a signal; -1 when not started.
    std::int32_t status = -1;
    // Decoded as UTF-8, each invalid sequence replaced with U+FFFD.
    std::string stdout;
    // Standard error too long to keep whole is its start, a line "… (cut, N bytes in all)" and its end,
    // cut between characters.
    std::string stderr;
    // Standard output went over `GitProcessLimits::maxStdout`: `stdout` holds only its first bytes.
    bool stdoutOverLimit = false;
};

// How long one run may last and how much it may say. Zero means no limit.
struct GitProcessLimits {
    // Longest time without a byte on either output stream.
    std::chrono::milliseconds silence{0};
    // Longest time in all.
    std::chrono::milliseconds overall{0};
    // Most bytes of standard output kept; one more ends the run.
    std::size_t maxStdout = 0;
};

class GitProcessRunning {
  public:
    virtual ~GitProcessRunning() = default;
    // `arguments` go to /usr/bin/env unchanged, so callers put "git" first; `environment` is the
    // child's whole environment; `directory` its current directory.
    virtual GitProcessExecutionResult run(const std::vector<std::string>& arguments,
                                          const std::filesystem::path& directory,
                                          const std::map<std::string, std::string>& environment) = 0;
    // As `run`; a child that outlives `limits` (or writes past `maxStdout`: reading stops there) is
    // killed with its process group and comes back with status 128 + SIGKILL and a standard error
    // that ends with a line saying which limit it met.
    virtual GitProcessExecutionResult runWithin(const std::vector<std::string>& arguments,
                                                const std::filesystem::path& directory,
                                                const std::map<std::string, std::string>& environment,
                                                const GitProcessLimits& limits) {
        (void)limits;
        return run(arguments, directory, environment);
    }
    // As `runWithin`, with `input` on the child's standard input. The default starts nothing and
    // fails, so a message is never silently lost.
    virtual GitProcessExecutionResult runWithInput(const std::vector<std::string>& arguments,
                                                   const std::filesystem::path& directory,
                                                   const std::map<std::string, std::string>& environment,
                                                   const std::string& input, const GitProcessLimits& limits) {
        (void)arguments, (void)directory, (void)environment, (void)input, (void)limits;
        GitProcessExecutionResult refused;
        refused.stderr = "standard input is not supported by this runner";
        return refused;
    }
    // Ends every running child with its process group, and makes later runs fail without starting
    // anything: for the end of the process. The default does nothing.
    virtual void stopAll() {}
};

}  // namespace pelko
