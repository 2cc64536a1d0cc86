#pragma once
// TerminalBridging: how the terminal service reports to the page. One operation per event; each
// sends exactly one event ("terminal/snapshot", "terminal/created", "terminal/status",
// "terminal/exit", "terminal/error" with `recoverable` true, "terminal/output" with the bytes in
// base64, "terminal/activity", "terminal/resize").
//
// Implemented by the web bridge. The terminal service holds it weakly and sends nothing once it is
// gone. Operations are called from the main thread, except `dispatchTerminalOutput`,
// `deliverTerminalOutput` and `dispatchTerminalActivity`, which come from a session's I/O thread, in
// output order. `deliverTerminalOutput` is how live sessions send: its `onDelivered` runs exactly once,
// from any thread, when the page has taken the event (or it was dropped), and the session holds back
// further output until then; an implementation that cannot tell keeps the default, which counts the
// event as taken once `dispatchTerminalOutput` returns. An
// implementation must not block on the main thread from any operation (the main thread may be waiting
// for an output reader to finish draining). Session identifiers are upper-case UUID texts.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "terminal/TerminalCreatedPayload.hpp"
#include "terminal/TerminalSnapshotPayload.hpp"

namespace pelko {

class TerminalBridging {
  public:
    virtual ~TerminalBridging() = default;

    virtual void dispatchTerminalSnapshot(const TerminalSnapshotPayload& payload) = 0;
    virtual void dispatchTerminalCreated(const TerminalCreatedPayload& payload) = 0;
    // `exitCode` is given only with "terminated".
    virtual void dispatchTerminalStatus(const std::string& sessionId, const std::string& status,
                                        std::optional<std::int32_t> exitCode) = 0;
    // A death by signal is the negative signal number.
    virtual void dispatchTerminalExit(const std::string& sessionId, std::int32_t exitCode) = 0;
    virtual void dispatchTerminalError(const std::string& sessionId, const std::string& message) = 0;
    // Raw bytes, possibly not valid UTF-8; never empty from a live session.
    virtual void dispatchTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data) = 0;
    virtual void deliverTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data,
                                       std::function<void()> onDelivered) {
        dispatchTerminalOutput(sessionId, data);
        onDelivered();
    }
    virtual void dispatchTerminalActivity(const std::string& sessionId) = 0;
    virtual void dispatchTerminalResize(const std::string& sessionId, int cols, int rows) = 0;
};

}  // namespace pelko
