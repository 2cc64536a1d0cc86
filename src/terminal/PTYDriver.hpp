#pragma once
// PTYDriver: opens a pseudo-terminal pair and starts a program as the leader of a new session with
// the slave as its controlling terminal and its standard input, output and error; sends signals to
// it. Stateless; runs on the caller's thread; logs nothing.
//
// The slave starts with the kernel's sane terminal settings plus IUTF8 (Ctrl-C, Ctrl-D, CR before LF
// and echo all work). The child inherits no descriptor above 2, has an empty signal mask and default
// signal dispositions, and gets the base environment with the overrides, TERM and COLORTERM when
// absent, and PELKO_TERMINAL=1. Every failure throws PTYDriverError with every descriptor closed.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Environment.hpp"
#include "terminal/PTYDriverError.hpp"
#include "terminal/TerminalMasterHandle.hpp"
#include "terminal/TerminalProcess.hpp"

namespace pelko {

struct PTYProcess {
    std::shared_ptr<TerminalProcess> process;
    std::shared_ptr<TerminalMasterHandle> masterHandle;
};

class PTYDriver {
  public:
    // `baseEnvironment`: what every child starts from (the process environment by default).
    explicit PTYDriver(Environment baseEnvironment = Environment::process());

    // `arguments` exclude the program name. Sizes are clamped to 0..65535.
    PTYProcess spawn(const std::string& shell, const std::vector<std::string>& arguments,
                     const std::filesystem::path& workingDirectory,
                     const std::map<std::string, std::string>& environment, std::int64_t cols,
                     std::int64_t rows) const;

    // An interrupt, quit or stop goes to the foreground process group of the terminal on `masterFd`
    // (what the key would reach, such as a command the shell runs as a job), found by the kernel, so
    // no group number is looked up and then signalled. Any other signal, or a terminal without a
    // foreground group, goes to the process's group through its pidfd. A process that is gone is not
    // an error; other failures throw signalFailed.
    static void sendSignal(const TerminalProcess& process, int masterFd, int signal);

    // The environment a child gets: the base, overrides (an empty override keeps an existing value),
    // TERM=xterm-256color and COLORTERM=truecolor when absent, PELKO_TERMINAL=1.
    Environment::Map childEnvironment(const std::map<std::string, std::string>& overrides) const;

  private:
    Environment baseEnvironment_;
};

}  // namespace pelko
