#pragma once
// GitProcessRunning: runs one `git` command line and hands back its exit status and both outputs.
//
// Callable from any thread, also concurrently; each call owns its process and pipes and blocks the
// calling thread until the child has ended and both of its streams are closed. There is no time-out
// and no size limit. It never throws: a process that cannot be started comes back with status -1,
// empty `stdout` and the launch error's description as `stderr`. It attaches no meaning to a non-zero
// status; callers do.
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
    std::string stderr;
};

class GitProcessRunning {
  public:
    virtual ~GitProcessRunning() = default;
    // `arguments` go to /usr/bin/env unchanged, so callers put "git" first; `environment` is the
    // child's whole environment; `directory` its current directory.
    virtual GitProcessExecutionResult run(const std::vector<std::string>& arguments,
                                          const std::filesystem::path& directory,
                                          const std::map<std::string, std::string>& environment) = 0;
};

}  // namespace pelko
