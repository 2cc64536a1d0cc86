#pragma once
// BridgeContext: what the bridge's page-message handlers and event relays share: the services the
// bridge was wired to, the cached configuration, the explorer watch, the file queue and the event
// delivery. Internal to the bridge.
//
// Main thread only, except `dispatchEvent` (any thread) and the sign-in fields, which are set during
// wiring before any service reports and never change afterwards. Keyring work runs on the keyring
// queue, never on the main thread, and its events keep the place in the page's order of the moment
// it was asked for. Owned by its WebBridge alone: work queued for later holds it weakly and is
// dropped when the bridge is gone by then.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bridge/FolderPicking.hpp"
#include "bridge/ProjectFileOperations.hpp"
#include "bridge/ScriptDelivery.hpp"
#include "config/AppConfig.hpp"
#include "config/ProjectMetadata.hpp"
#include "dashboard/DashboardControlling.hpp"
#include "git/GitServicing.hpp"
#include "github/GitAuthProviding.hpp"
#include "github/GitHubOAuthCoordinating.hpp"
#include "github/GitTokenRefreshing.hpp"
#include "github/SecurityEventLogging.hpp"
#include "platform/AnalyticsLogging.hpp"
#include "platform/Json.hpp"
#include "platform/Published.hpp"
#include "platform/RepeatingTimer.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/SystemLogger.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class ConfigStore;
class ExplorerService;
class GestureBridge;
class PreviewTabsPersistenceService;
class TerminalService;

class BridgeContext : public std::enable_shared_from_this<BridgeContext> {
  public:
    BridgeContext(std::shared_ptr<GestureBridge> gestureBridge, std::shared_ptr<ExplorerService> explorer);

    // Encodes on the calling thread; on the main thread delivers at once, otherwise on the main queue,
    // dropping the script when the context is gone by then. An event that cannot be sent is dropped
    // and answers false: a non-finite number, or a script longer than the web view takes
    // (ScriptDelivery::maxScriptBytes), which is never made.
    static bool dispatchEvent(const std::weak_ptr<BridgeContext>& context, const std::string& type,
                              const Json& payload);
    bool dispatchEvent(const std::string& type, const Json& payload);
    // Encodes and delivers on a later turn of the main queue, after the current message is handled.
    void dispatchEventLater(BridgeEvent event);
    // runOnMain runs the work at once on the main thread, else on the main queue; runOnMainLater always
    // waits for a later turn of the main queue. Work is dropped when the context is gone by then.
    void runOnMain(std::function<void(BridgeContext&)> work);
    void runOnMainLater(std::function<void(BridgeContext&)> work);
    // Main thread: runs `work` on the keyring queue, then what it returns on the main queue; the
    // events that returns go to the page in the place this call took. Events sent meanwhile wait
    // behind them for at most `keyringHold`; after that they go on, and these follow when ready.
    // Dropped when the context is gone by then, and once the end of the process has begun. What the
    // end does to `work` not yet done: drops it, or keeps it (a sign-out the user asked for) as an
    // errand the end waits for (ProcessEnd::Errand).
    using KeyringFinish = std::function<std::vector<BridgeEvent>(BridgeContext&)>;
    enum class AtTheEnd { dropped, kept };
    void onKeyringQueue(std::function<KeyringFinish()> work, AtTheEnd atTheEnd = AtTheEnd::dropped);
    static constexpr std::chrono::milliseconds keyringHold{200};

    std::optional<ProjectMetadata> project(const Uuid& projectID) const;
    // The project's root folder when the project is known and its folder exists.
    std::optional<std::filesystem::path> projectRootPath(const Uuid& projectID) const;

    Published<std::optional<Uuid>> activeProjectID{std::nullopt};
    ScriptDelivery delivery;
    std::weak_ptr<TerminalService> terminalService;
    std::weak_ptr<GitServicing> gitService;
    std::weak_ptr<ConfigStore> configStore;
    std::weak_ptr<DashboardControlling> dashboardController;
    std::shared_ptr<GitAuthProviding> authManager;
    std::shared_ptr<GitHubOAuthCoordinating> oauthCoordinator;
    std::shared_ptr<GitTokenRefreshing> tokenRefresher;
    std::shared_ptr<SecurityEventLogging> securityLogger;
    std::shared_ptr<PreviewTabsPersistenceService> previewTabsService;
    std::shared_ptr<AnalyticsLogging> analyticsLogger;
    std::shared_ptr<FolderPicking> folderPicker;
    std::optional<AppConfig> cachedConfig;
    std::shared_ptr<SerialQueue> fileQueue;     // WebBridge::fileQueueLabel
    std::shared_ptr<SerialQueue> keyringQueue;  // WebBridge::keyringQueueLabel
    // The timers that give up places reserved by onKeyringQueue, by place.
    std::map<ScriptDelivery::Place, std::unique_ptr<RepeatingTimer>> keyringHolds;
    SystemLogger previewTabsLogger{"app.pelko.webbridge", "previewTabs"};
    std::shared_ptr<GestureBridge> gestureBridge;
    std::shared_ptr<ExplorerService> explorerService;
    std::optional<Uuid> monitoredExplorerProjectID;
    std::shared_ptr<const ProjectFileOperations> fileOperations = std::make_shared<ProjectFileOperations>();
};

}  // namespace pelko
