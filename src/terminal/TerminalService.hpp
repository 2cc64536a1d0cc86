#pragma once
// TerminalService: the terminal subsystem's face to the rest of the application. It keeps the live
// sessions of its coordinator in line with the configured CLI sessions while the feature flag
// "terminal.v2" is set (reconciling, never restarting a running shell), answers the page's terminal
// requests, keeps a small runtime record per session for the snapshot, turns the coordinator's
// reports into page events through TerminalBridging, switches the debug dumps with
// "terminal.debugDump", and feeds native key input to the focused session.
//
// Threads: main thread only (debug builds stop when a public operation is called elsewhere), except
// that output reports pass from a session's I/O thread straight to the bridge, with the
// acknowledgement through which the page paces the session. Input is queued, never waited for. The
// configuration arrives from the store on a later turn of the main queue (the first reconciliation
// never runs inside `create`) and is reconciled as it stands when it arrives, so a session created
// meanwhile is never ended and started again. Without a bridge nothing is sent. Nothing here fails
// towards the caller: unknown session identifiers are ignored.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/AppConfig.hpp"
#include "config/CLISessionConfig.hpp"
#include "platform/Published.hpp"
#include "platform/Uuid.hpp"
#include "terminal/NativeKeyEvent.hpp"
#include "terminal/TerminalBridging.hpp"
#include "terminal/TerminalCoordinatorDelegate.hpp"
#include "terminal/TerminalSessionStatus.hpp"

namespace pelko {

class ConfigStore;
class TerminalCoordinator;
class CodexShimInstaller;
class TerminalInputModeSwitcher;

class TerminalService final : public TerminalCoordinatorDelegate,
                              public std::enable_shared_from_this<TerminalService> {
  public:
    // `coordinator` null: TerminalCoordinator::makeDefault(). `codexShimInstaller` null: shells get
    // no PATH or ZDOTDIR override. `inputModeSwitcher` null: one over the system's input sources.
    static std::shared_ptr<TerminalService> create(
        std::shared_ptr<ConfigStore> configStore, std::shared_ptr<TerminalCoordinator> coordinator = nullptr,
        std::shared_ptr<CodexShimInstaller> codexShimInstaller = nullptr,
        std::shared_ptr<TerminalInputModeSwitcher> inputModeSwitcher = nullptr);
    ~TerminalService() override;
    TerminalService(const TerminalService&) = delete;
    TerminalService& operator=(const TerminalService&) = delete;

    // Keeps the bridge weakly, then sends one snapshot of the configured sessions.
    void attach(std::weak_ptr<TerminalBridging> bridge);
    // Sends a snapshot of the configured sessions with the current flag.
    void sendSnapshot();
    // The first call sends a snapshot; later calls do nothing.
    void bootstrapIfNeeded();

    // With as many sessions configured as the coordinator's bound, adds nothing and sends only a
    // `terminal/error` under a fresh identifier.
    void createSession(const std::optional<std::string>& title, const std::optional<Uuid>& projectID);
    void closeSession(const Uuid& id);
    // The sessions of a closed project (the store has already removed them from the configuration).
    void terminateSessions(const std::vector<Uuid>& ids);
    // Each value is clamped to 2..65535; "terminal/resize" echoes the size when it changed. An id that
    // names no configured session is ignored.
    void resizeSession(const Uuid& id, std::int64_t cols, std::int64_t rows);
    void sendInput(const Uuid& sessionID, std::span<const std::uint8_t> data);
    // Only "SIGINT" (any letter case) has an effect, and only with "terminal.v2".
    void sendSignal(const Uuid& sessionID, std::string_view signal);

    void setInputFocus(const Uuid& sessionID, bool focused);
    // True when the event was used for the focused session and must not reach the web view.
    bool handleNativeKeyDown(const NativeKeyEvent& event);

    bool isTerminalV2Enabled() const;
    void dispatchSnapshot(const std::vector<CLISessionConfig>& sessions, bool featureEnabled);
    // With "terminal.v2" off: once per session, a notice as output and the status "unavailable".
    void notifyUnavailable(const Uuid& sessionID, const std::optional<std::string>& title);

    std::optional<Uuid> activeInputSessionID() const { return activeInputSessionID_; }

    // TerminalCoordinatorDelegate.
    void terminalCoordinatorDidCreateSession(const TerminalSessionInfo& info) override;
    void terminalCoordinatorDidUpdateStatus(const TerminalSessionStatus& status, const Uuid& sessionID,
                                            std::optional<std::int32_t> exitCode) override;
    void terminalCoordinatorDidReceiveOutput(std::span<const std::uint8_t> data, const Uuid& sessionID,
                                             std::function<void()> onDelivered) override;

  private:
    struct RuntimeState {
        TerminalSessionStatus status = TerminalSessionStatus::booting();
        int cols = 0;
        int rows = 0;
        std::optional<std::int32_t> pid;
    };

    TerminalService(std::shared_ptr<ConfigStore> configStore,
                    std::shared_ptr<TerminalCoordinator> coordinator,
                    std::shared_ptr<CodexShimInstaller> codexShimInstaller,
                    std::shared_ptr<TerminalInputModeSwitcher> inputModeSwitcher);
    void start();
    void handleConfigChange(const AppConfig& config);
    RuntimeState bootingRecord(const Uuid& id) const;
    void forget(const Uuid& id);
    std::shared_ptr<TerminalBridging> bridge() const;

    std::shared_ptr<ConfigStore> configStore_;
    // Read from output reader threads too.
    mutable std::mutex bridgeMutex_;
    std::weak_ptr<TerminalBridging> bridge_;
    std::set<Uuid> unavailableNotifiedSessions_;
    Subscription configSubscription_;
    std::shared_ptr<TerminalCoordinator> coordinator_;
    std::map<Uuid, RuntimeState> runtimeStates_;
    std::shared_ptr<CodexShimInstaller> codexShimInstaller_;
    std::shared_ptr<TerminalInputModeSwitcher> inputModeSwitcher_;
    std::optional<Uuid> activeInputSessionID_;
    bool hasBootstrapped_ = false;
};

}  // namespace pelko
