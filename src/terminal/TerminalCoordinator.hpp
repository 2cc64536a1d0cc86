#pragma once
// TerminalCoordinator: owns the live pseudo-terminal sessions. For each configured CLI session it
// starts the configured shell as a login shell on a pseudo-terminal, reads and normalises its output,
// writes input, resizes, signals and ends it, watches its exit, keeps each session's state (booting,
// ready, failed, terminated) and records every step in the terminal log (and in the debug dumps while
// they are on). It knows nothing of the page, the configuration store or the feature flags.
//
// Threads: every public operation is called on the main thread, and creation and status reports are
// made there (debug builds stop when one is called elsewhere). Output is read on one I/O thread per
// session and reported from it in order; while the page has not yet acknowledged earlier output, the
// output piles up and leaves as fewer, larger reports, and once too much of a session's output is
// undelivered its thread stops reading the pseudo-terminal until delivery catches up (the bounds are
// TerminalOutputFlow::Limits). When a shell exits, its reader drains what the shell wrote before the
// descriptor is closed and the normaliser then hands over whatever it still holds, so every byte of a
// session's output is reported before its "terminated" report. `write` never waits: input is queued
// (at most 512 KiB per session) and written by the session's I/O thread as the terminal takes it; a
// write that fails, or input that would pass the bound (dropped whole), fails the session with
// "write_failed: ". Input typed while the terminal reads lines without echo (a password prompt) is
// logged with its length and no bytes. Operations naming a session that is not live are ignored; a
// session whose shell has been seen to exit is no longer live, so it takes no more input, resizes or
// signals. Signals reach a shell through its pidfd, or its terminal's foreground group through the
// terminal, never through a pid number that may have been reused. A shell still running when its
// session is ended gets SIGTERM and is reaped in the background; its exit is not reported.
// At most `maxSessions` sessions are live at once; a start beyond that fails the session.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Uuid.hpp"
#include "terminal/TerminalCoordinatorDelegate.hpp"
#include "terminal/TerminalOutputNormalizer.hpp"
#include "terminal/TerminalSessionStatus.hpp"

namespace pelko {

struct CLISessionConfig;
class PTYDriver;
class TerminalLogger;
class TerminalDebugDumpStore;

class TerminalCoordinator : public std::enable_shared_from_this<TerminalCoordinator> {
  public:
    using SessionStatus = TerminalSessionStatus;
    using SessionInfo = TerminalSessionInfo;

    static constexpr int defaultCols = 120;
    static constexpr int defaultRows = 40;
    // Each live session holds a pseudo-terminal, two threads and four descriptors.
    static constexpr std::size_t defaultMaxSessions = 64;

    // `debugDumpStore` may be null (no caches folder): dumps then stay off.
    TerminalCoordinator(std::shared_ptr<PTYDriver> driver, std::shared_ptr<TerminalLogger> logger,
                        std::shared_ptr<TerminalDebugDumpStore> debugDumpStore, int initialCols = defaultCols,
                        int initialRows = defaultRows, std::size_t maxSessions = defaultMaxSessions);
    // The driver, the log at its default place (10 MiB), the dump store in the caches folder (when
    // there is one) and 120 by 40.
    static std::shared_ptr<TerminalCoordinator> makeDefault();
    ~TerminalCoordinator();
    TerminalCoordinator(const TerminalCoordinator&) = delete;
    TerminalCoordinator& operator=(const TerminalCoordinator&) = delete;

    void setDelegate(std::weak_ptr<TerminalCoordinatorDelegate> delegate);
    // Extra environment for every shell started from now on.
    void setEnvironmentOverrides(std::map<std::string, std::string> overrides);
    const std::shared_ptr<TerminalDebugDumpStore>& debugDumpStore() const { return debugDumpStore_; }

    // Ends live sessions that are not in the list and starts listed ones that are not live; nothing
    // running is restarted.
    void synchronize(const std::vector<CLISessionConfig>& sessions);
    // Called only for a session that is not live.
    void startSession(const CLISessionConfig& config);
    void terminateSession(const Uuid& id);
    void terminateAll();

    void write(const Uuid& sessionID, std::span<const std::uint8_t> data);
    // Signals the session's process group.
    void sendSignal(const Uuid& sessionID, int signal);
    // A terminal dimension as sessions take it: 2..65535.
    static int clampDimension(std::int64_t value);
    // Each value is clamped with `clampDimension`.
    void resize(const Uuid& sessionID, std::int64_t cols, std::int64_t rows);
    std::optional<std::pair<int, int>> dimensions(const Uuid& sessionID) const;
    void updateDebugDump(bool enabled);
    bool debugDumpEnabled() const { return debugDumpEnabled_; }
    bool hasLiveSession(const Uuid& sessionID) const { return sessions_.count(sessionID) != 0; }
    std::size_t maxSessions() const { return maxSessions_; }
    // The failure text of a start refused for the bound, such as "sessionLimitReached(limit: 64)".
    std::string sessionLimitReached() const;
    // Output of a live session that the page has not yet acknowledged, queued and in flight.
    std::size_t undeliveredOutputBytes(const Uuid& sessionID) const;

  private:
    struct SessionState;

    std::string resolvedWorkingDirectory(const CLISessionConfig& config) const;
    void installReadHandler(const std::shared_ptr<SessionState>& state);
    void installTerminationHandler(const std::shared_ptr<SessionState>& state);
    // Queues one piece of normalised output for the page and logs it; nothing for an empty one. On the
    // session's I/O thread.
    void forwardOutput(SessionState& state, TerminalOutputNormalizer::Bytes normalized);
    // On the session's I/O thread: hands on the queued output the flow lets go (`all`: everything).
    void sendOutput(const std::shared_ptr<SessionState>& state, bool all);
    void transitionToFailure(const Uuid& sessionID, const std::string& message);
    void dispose(SessionState& state);
    // Runs `work` on the main queue, only while this coordinator lives and `state` is still the live
    // session for its identifier (a session closed or replaced meanwhile is left alone).
    void onMainWhileCurrent(const std::shared_ptr<SessionState>& state,
                            std::function<void(SessionState&)> work);
    void attachDumpWriter(SessionState& state);
    // The session when it is live: present, not disposed, and its shell not seen to exit.
    SessionState* liveSession(const Uuid& sessionID) const;
    void report(const SessionStatus& status, const Uuid& sessionID, std::optional<std::int32_t> exitCode);

    std::weak_ptr<TerminalCoordinatorDelegate> delegate_;
    std::shared_ptr<PTYDriver> driver_;
    std::shared_ptr<TerminalLogger> logger_;
    std::unordered_map<Uuid, std::shared_ptr<SessionState>> sessions_;
    int initialCols_;
    int initialRows_;
    std::size_t maxSessions_;
    std::shared_ptr<TerminalDebugDumpStore> debugDumpStore_;
    bool debugDumpEnabled_ = false;
    std::map<std::string, std::string> environmentOverrides_;
};

}  // namespace pelko
