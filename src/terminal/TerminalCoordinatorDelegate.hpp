#pragma once
// TerminalCoordinatorDelegate: how the terminal coordinator reports its sessions (implemented by the
// terminal service). The coordinator holds it weakly. Creation and status reports come on the main
// thread; output reports come on the session's I/O thread, in order, never empty. Each output report
// carries `onDelivered`, which the implementation calls exactly once, from any thread, when the page
// has taken the bytes or they were dropped: the session's further output waits for it. An
// implementation must not wait on the main thread from an output report.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "platform/Uuid.hpp"
#include "terminal/TerminalSessionStatus.hpp"

namespace pelko {

struct TerminalSessionInfo {
    Uuid id;
    std::string title;  // as configured
    int cols = 0;
    int rows = 0;
    std::int32_t pid = 0;
    std::string shell;             // as configured
    std::string workingDirectory;  // the folder actually used (tilde expanded, home as fallback)
};

class TerminalCoordinatorDelegate {
  public:
    virtual ~TerminalCoordinatorDelegate() = default;

    virtual void terminalCoordinatorDidCreateSession(const TerminalSessionInfo& info) = 0;
    virtual void terminalCoordinatorDidUpdateStatus(const TerminalSessionStatus& status,
                                                    const Uuid& sessionID,
                                                    std::optional<std::int32_t> exitCode) = 0;
    virtual void terminalCoordinatorDidReceiveOutput(std::span<const std::uint8_t> data,
                                                     const Uuid& sessionID,
                                                     std::function<void()> onDelivered) = 0;
};

}  // namespace pelko
