#include "bridge/WebBridge.hpp"

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgePayloads.hpp"
#include "bridge/EventScript.hpp"
#include "bridge/FileMessages.hpp"
#include "bridge/MessageRoutes.hpp"
#include "bridge/PreviewTabMessages.hpp"
#include "bridge/ProjectMessages.hpp"
#include "bridge/SignInMessages.hpp"
#include "config/ProjectTab.hpp"
#include "explorer/ExplorerService.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko {

// ---------------------------------------------------------------------------------------------------
// Construction and wiring

std::shared_ptr<WebBridge> WebBridge::create(std::shared_ptr<GestureBridge> gestureBridge,
                                             std::shared_ptr<ExplorerService> explorerService) {
    return std::make_shared<WebBridge>(Passkey{}, std::move(gestureBridge), std::move(explorerService));
}

WebBridge::WebBridge(Passkey, std::shared_ptr<GestureBridge> gestureBridge,
                     std::shared_ptr<ExplorerService> explorerService)
    : context_(std::make_shared<BridgeContext>(std::move(gestureBridge), std::move(explorerService))) {}

WebBridge::~WebBridge() {
    context_->explorerService->stopMonitoring();
}

void WebBridge::configure(const Dependencies& dependencies) {
    if (dependencies.terminalService) {
        dependencies.terminalService->attach(std::weak_ptr<TerminalBridging>(shared_from_this()));
    }
    context_->terminalService = dependencies.terminalService;
    if (dependencies.gitService) {
        dependencies.gitService->setEventSink(std::weak_ptr<GitServiceEventSink>(shared_from_this()));
    }
    context_->gitService = dependencies.gitService;
    context_->configStore = dependencies.configStore;
    context_->authManager = dependencies.authManager;
    SignInMessages::dispatchStoredStatus(*context_);
    context_->securityLogger = dependencies.securityLogger;
    context_->previewTabsService = dependencies.previewTabsService;
    context_->dashboardController = dependencies.dashboardController;
    context_->analyticsLogger = dependencies.analyticsLogger;
}

void WebBridge::attach(std::shared_ptr<GitHubOAuthCoordinating> oauthCoordinator,
                       std::shared_ptr<GitTokenRefreshing> tokenRefresher) {
    context_->oauthCoordinator = std::move(oauthCoordinator);
    context_->tokenRefresher = std::move(tokenRefresher);
    if (context_->oauthCoordinator) {
        context_->oauthCoordinator->setDelegate(
            std::weak_ptr<GitHubOAuthCoordinatorDelegate>(shared_from_this()));
    }
    if (context_->tokenRefresher) {
        context_->tokenRefresher->setDelegate(std::weak_ptr<GitTokenRefresherDelegate>(shared_from_this()));
    }
    SignInMessages::dispatchStoredStatus(*context_);
}

void WebBridge::setFolderPicker(std::shared_ptr<FolderPicking> folderPicker) {
    context_->folderPicker = std::move(folderPicker);
}

// ---------------------------------------------------------------------------------------------------
// Web view and event delivery

void WebBridge::attachWebView(const std::shared_ptr<ScriptEvaluating>& webView) {
    context_->delivery.attach(webView);
}

void WebBridge::notifyWebViewDidStartNavigation() {
    context_->delivery.navigationStarted();
}

void WebBridge::notifyWebViewDidFinishNavigation() {
    std::size_t held = context_->delivery.navigationFinished();
    if (held == 0 && context_->cachedConfig) {
        AppConfig config = *context_->cachedConfig;
        updateConfigSnapshot(config);
    }
}

bool WebBridge::isWebViewReady() const {
    return context_->delivery.isReady();
}

std::string_view WebBridge::scriptHead() {
    return EventScript::head();
}

std::string_view WebBridge::scriptTail() {
    return EventScript::tail();
}

std::string WebBridge::eventScript(const std::string& type, const Json& payload) {
    return EventScript::build(type, payload);
}

void WebBridge::dispatchEvent(const std::string& type, const Json& payload) {
    context_->dispatchEvent(type, payload);
}

// ---------------------------------------------------------------------------------------------------
// Inbound routing

void WebBridge::handle(const Json& messageBody) {
    auto type = json::stringField(&messageBody, "type");
    if (!type) return;
    MessageHandler handler = MessageRoutes::handler(*type);
    if (!handler) return;
    handler(*context_, *type, json::objectField(&messageBody, "payload"));
}

// ---------------------------------------------------------------------------------------------------
// Configuration, activation, explorer, preview tabs, gestures

void WebBridge::updateConfigSnapshot(const AppConfig& config) {
    ProjectMessages::updateConfigSnapshot(*context_, config);
}

void WebBridge::notifyProjectActivated(const ProjectTab& tab) {
    context_->activeProjectID.set(tab.id);
    activateExplorerMonitoring(tab.id);
    dispatchEvent("project/activate", ActivationPayload{tab.id.string(), tab.name, tab.rootPath}.toJson());
    dispatchPreviewTabs(tab.id);
}

std::optional<Uuid> WebBridge::activeProjectID() const {
    return context_->activeProjectID.value();
}

Subscription WebBridge::subscribeActiveProjectID(std::function<void(const std::optional<Uuid>&)> handler) {
    return context_->activeProjectID.subscribe(std::move(handler));
}

void WebBridge::activateExplorerMonitoring(const Uuid& projectID) {
    FileMessages::activateExplorerMonitoring(*context_, projectID);
}

void WebBridge::requestExplorerDirectories(const Uuid& projectID,
                                           const std::vector<std::string>& relativePaths,
                                           const std::string& requestId) {
    FileMessages::requestExplorerDirectories(*context_, projectID, relativePaths, requestId);
}

std::optional<Uuid> WebBridge::monitoredExplorerProjectID() const {
    return context_->monitoredExplorerProjectID;
}

void WebBridge::dispatchPreviewTabs(const Uuid& projectID) {
    PreviewTabMessages::dispatchPreviewTabs(*context_, projectID);
}

bool WebBridge::isNonExpiring(const Date& date) {
    return SignInMessages::isNonExpiring(date);
}

void WebBridge::gestureBridgeDidDetect(GestureBridge&, const ColumnPinchEvent& event) {
    std::string direction = event.direction == ColumnPinchEvent::Direction::expand ? "expand" : "collapse";
    if (context_->analyticsLogger) {
        context_->analyticsLogger->log("column_pinch_gesture", {{"direction", direction},
                                                                {"magnitude", event.magnitude},
                                                                {"normalizedX", event.normalizedX},
                                                                {"normalizedY", event.normalizedY}});
    }
    ColumnPinchPayload payload{direction,       event.magnitude, event.normalizedX, event.normalizedY,
                               event.locationX, event.locationY, event.scaleFactor, event.timestamp};
    dispatchEvent("layout/column-pinch", payload.toJson());
}

}  // namespace pelko
