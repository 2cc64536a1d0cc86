#pragma once
// WebBridge: the one object between the web page and the native services.
//
// Inbound: `handle` takes every page message (main thread), checks its shape and exact type, and
// routes it to a service; malformed and unknown messages are dropped without a reply. Outbound:
// `dispatchEvent` wraps a payload in {"type","payload"}, encodes it on the calling thread (any
// thread) and evaluates the script on the main thread. While no web view is attached or the page is
// loading, scripts are held in order, without limit, and run when a navigation finishes. Events sent
// from one thread reach the page in the order sent; an event sent on the main thread is delivered at
// once and may overtake events that other threads sent earlier. Invalid UTF-8 in a payload becomes
// U+FFFD; a payload with a non-finite number is dropped.
//
// File work (reads, saves, renames, listings) runs one request at a time, in request order, on the
// serial queue "app.pelko.webbridge.fs"; answers come back on the main thread.
//
// Ownership: made with `create` and kept in a shared_ptr; services that report to it hold it weakly.
// It holds the web view, terminal service, Git service, configuration store and dashboard controller
// weakly, everything else strongly. State is touched on the main thread only. Destroying it stops the
// explorer watch.
//
// Layout: this class is transport and router only. Scripts are built by EventScript and delivered by
// ScriptDelivery; MessageRoutes maps each message type to the handler of its subsystem
// (ProjectMessages, FileMessages, TerminalMessages, GitMessages, SignInMessages, PreviewTabMessages,
// AnalyticsMessages, DashboardMessages), each of which also holds that subsystem's event relays; they
// share one BridgeContext.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/FolderPicking.hpp"
#include "bridge/GestureBridgeDelegate.hpp"
#include "bridge/ScriptEvaluating.hpp"
#include "dashboard/DashboardControlling.hpp"
#include "dashboard/DashboardEventEmitting.hpp"
#include "dashboard/SystemMetricsEventEmitting.hpp"
#include "git/GitServiceEventSink.hpp"
#include "git/GitServicing.hpp"
#include "github/GitAuthProviding.hpp"
#include "github/GitHubOAuthCoordinating.hpp"
#include "github/GitOAuthStatusPayload.hpp"
#include "github/GitTokenRefreshing.hpp"
#include "github/OAuthTokenRecord.hpp"
#include "github/SecurityEventLogging.hpp"
#include "platform/AnalyticsLogging.hpp"
#include "platform/Date.hpp"
#include "platform/Json.hpp"
#include "platform/Published.hpp"
#include "platform/Uuid.hpp"
#include "terminal/TerminalBridging.hpp"

namespace pelko {

class BridgeContext;
class ConfigStore;
class ExplorerService;
class PreviewTabsPersistenceService;
class TerminalService;
struct AppConfig;
struct ProjectTab;

class WebBridge final : public std::enable_shared_from_this<WebBridge>,
                        public TerminalBridging,
                        public GitServiceEventSink,
                        public DashboardEventEmitting,
                        public SystemMetricsEventEmitting,
                        public GitHubOAuthCoordinatorDelegate,
                        public GitTokenRefresherDelegate,
                        public GestureBridgeDelegate {
    struct Passkey {};

  public:
    static constexpr const char* fileQueueLabel = "app.pelko.webbridge.fs";
    static constexpr const char* keyringQueueLabel = "app.pelko.webbridge.keyring";

    // Main thread. Without an explorer service the bridge builds the default one (0.4 s debounce,
    // change callbacks on the main queue). The gesture bridge is only kept alive here; the composition
    // root makes this bridge its delegate.
    static std::shared_ptr<WebBridge> create(std::shared_ptr<GestureBridge> gestureBridge = nullptr,
                                             std::shared_ptr<ExplorerService> explorerService = nullptr);
    WebBridge(Passkey, std::shared_ptr<GestureBridge> gestureBridge,
              std::shared_ptr<ExplorerService> explorerService);
    ~WebBridge() override;
    WebBridge(const WebBridge&) = delete;
    WebBridge& operator=(const WebBridge&) = delete;

    // --- Web host (main thread) ---
    // A web view other than the current one (or the first) is stored weakly and is not ready until
    // its navigation finishes.
    void attachWebView(const std::shared_ptr<ScriptEvaluating>& webView);
    void notifyWebViewDidStartNavigation();
    // Ready; runs the held scripts in order; when none were held, sends the cached configuration again.
    void notifyWebViewDidFinishNavigation();
    bool isWebViewReady() const;
    // The chooser for "project/open"; without one that message does nothing.
    void setFolderPicker(std::shared_ptr<FolderPicking> folderPicker);

    // --- Wiring (main thread, once, before the window shows) ---
    // What the bridge routes to; any of them may be absent, and its messages are then dropped.
    // Kept weakly: terminal and Git services, configuration store, dashboard controller.
    struct Dependencies {
        std::shared_ptr<TerminalService> terminalService;
        std::shared_ptr<GitServicing> gitService;
        std::shared_ptr<ConfigStore> configStore;
        std::shared_ptr<GitAuthProviding> authManager;
        std::shared_ptr<SecurityEventLogging> securityLogger;
        std::shared_ptr<PreviewTabsPersistenceService> previewTabsService;
        std::shared_ptr<DashboardControlling> dashboardController;
        std::shared_ptr<AnalyticsLogging> analyticsLogger;
    };
    // Attaches the bridge to the terminal service (which sends its first snapshot) and to the Git
    // service, then sends the sign-in status from the stored token.
    void configure(const Dependencies& dependencies);
    // Only with OAuth settings. Becomes the delegate of both, then sends the sign-in status.
    void attach(std::shared_ptr<GitHubOAuthCoordinating> oauthCoordinator,
                std::shared_ptr<GitTokenRefreshing> tokenRefresher);

    // --- Content view (main thread) ---
    // Caches the configuration, sends "app/config", then "github/oauth/status".
    void updateConfigSnapshot(const AppConfig& config);
    // Sets the active project, moves the explorer watch, sends "project/activate" and the preview tabs.
    void notifyProjectActivated(const ProjectTab& tab);
    std::optional<Uuid> activeProjectID() const;
    // The current value at once, then every change.
    [[nodiscard]] Subscription subscribeActiveProjectID(
        std::function<void(const std::optional<Uuid>&)> handler);

    // --- Page messages (main thread) ---
    // Every script message except "webview/log"; any JSON value.
    void handle(const Json& messageBody);

    // --- Explorer and preview tabs (main thread) ---
    // No-op for the watched project; otherwise watches the project's root, or stops watching when the
    // project or its folder is unknown.
    void activateExplorerMonitoring(const Uuid& projectID);
    // Answers "project/explorer/directories", listing on the file queue ("invalidProject" entries,
    // asynchronously, for an unknown project or a missing root).
    void requestExplorerDirectories(const Uuid& projectID, const std::vector<std::string>& relativePaths,
                                    const std::string& requestId);
    std::optional<Uuid> monitoredExplorerProjectID() const;
    // "previewTab:hydrate", then "previewTab:warning" when tabs lost their files.
    void dispatchPreviewTabs(const Uuid& projectID);

    // --- Events (any thread) ---
    void dispatchEvent(const std::string& type, const Json& payload);

    // The script text around the encoded envelope.
    static std::string_view scriptHead();
    static std::string_view scriptTail();
    // The script for one event: the encoded envelope {"type","payload"} as a single-quoted literal
    // (backslashes and single quotes escaped) between head and tail, built in one pass.
    // Throws EncodeError for a non-finite number.
    static std::string eventScript(const std::string& type, const Json& payload);
    // A token without expiry: the distant future, or any date after the year 2099.
    static bool isNonExpiring(const Date& date);

    // TerminalBridging
    void dispatchTerminalSnapshot(const TerminalSnapshotPayload& payload) override;
    void dispatchTerminalCreated(const TerminalCreatedPayload& payload) override;
    void dispatchTerminalStatus(const std::string& sessionId, const std::string& status,
                                std::optional<std::int32_t> exitCode) override;
    void dispatchTerminalExit(const std::string& sessionId, std::int32_t exitCode) override;
    void dispatchTerminalError(const std::string& sessionId, const std::string& message) override;
    void dispatchTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data) override;
    void deliverTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data,
                               std::function<void()> onDelivered) override;
    void dispatchTerminalActivity(const std::string& sessionId) override;
    void dispatchTerminalResize(const std::string& sessionId, int cols, int rows) override;

    // GitServiceEventSink
    void gitServiceDidUpdateStatus(const GitStatusPayload& payload) override;
    void gitServiceDidSucceed(const std::string& message) override;
    void gitServiceDidFail(const std::string& message) override;
    void gitServiceDidLoadDiff(const GitDiffPayload& payload) override;
    void gitServiceDidLoadCommitDiff(const GitCommitDiffPayload& payload) override;
    void gitServiceDidLoadWorkingTree(const GitWorkingTreePayload& payload) override;
    void gitServiceDidReachRefreshBarrier(const GitRefreshBarrierPayload& payload) override;
    void gitServiceDidLoadBranchMap(const GitBranchMapPayload& payload) override;
    void gitServiceDidFailBranchMap(const GitBranchMapErrorPayload& payload) override;
    void gitServiceDidLoadCommitHistory(const GitCommitHistoryPayload& payload) override;
    void gitServiceDidFailCommitHistory(const GitCommitHistoryErrorPayload& payload) override;
    void gitServiceDidLoadCommitGraph(const GitCommitGraphPayload& payload) override;
    void gitServiceDidLoadStatusDetail(const GitStatusDetailPayload& payload) override;
    void gitServiceDidUpdateRemoteTracking(const GitRemoteTrackingPayload& payload) override;
    void gitServiceDidUpdateOAuthStatus(const GitOAuthStatusPayload& payload) override;

    // DashboardEventEmitting
    void emitDashboardToggled(bool open) override;
    void emitDashboardMetrics(const DashboardSnapshot& snapshot) override;
    void emitDashboardMetricsError(const std::string& message) override;

    // SystemMetricsEventEmitting
    void emitSystemMetrics(const SystemMetricsSnapshot& snapshot) override;
    void emitSystemMetricsError(const std::string& message) override;

    // GitHubOAuthCoordinatorDelegate / GitTokenRefresherDelegate (any thread; handled on the main queue)
    void gitHubOAuthCoordinatorDidComplete(GitHubOAuthCoordinating& coordinator,
                                           const OAuthTokenRecord& record) override;
    void gitHubOAuthCoordinatorDidFail(GitHubOAuthCoordinating& coordinator,
                                       const std::string& errorDescription) override;
    void gitTokenRefresherDidRefresh(GitTokenRefreshing& refresher, const OAuthTokenRecord& record) override;
    void gitTokenRefresherDidFail(GitTokenRefreshing& refresher,
                                  const std::string& errorDescription) override;

    // GestureBridgeDelegate (main thread)
    void gestureBridgeDidDetect(GestureBridge& gestureBridge, const ColumnPinchEvent& event) override;

  private:
    std::shared_ptr<BridgeContext> context_;
};

}  // namespace pelko
