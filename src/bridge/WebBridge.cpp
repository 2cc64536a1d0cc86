#include "bridge/WebBridge.hpp"

#include <openssl/evp.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "bridge/BridgePayloads.hpp"
#include "bridge/ProjectFileOperations.hpp"
#include "config/AppConfig.hpp"
#include "config/ConfigStore.hpp"
#include "config/PreviewTabsPersistenceService.hpp"
#include "config/ProjectTab.hpp"
#include "explorer/ExplorerService.hpp"
#include "platform/Base64.hpp"
#include "platform/MainQueue.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/SystemLogger.hpp"
#include "terminal/TerminalCoordinator.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko {

namespace {

constexpr std::string_view kScriptHead = "(function() {\n  const event = JSON.parse('";
constexpr std::string_view kScriptTail =
    "');\n"
    "  if (!Array.isArray(window.__pelkoEventHistory)) {\n"
    "    window.__pelkoEventHistory = [];\n"
    "  }\n"
    "  window.__pelkoEventHistory.push(event);\n"
    "  if (window.__pelkoEventHistory.length > 200) {\n"
    "    window.__pelkoEventHistory.splice(0, window.__pelkoEventHistory.length - 200);\n"
    "  }\n"
    "  if (window.__pelko__ && typeof window.__pelko__.dispatch === 'function') {\n"
    "    window.__pelko__.dispatch(event);\n"
    "    return;\n"
    "  }\n"
    "  if (!Array.isArray(window.__pelkoPendingEvents)) {\n"
    "    window.__pelkoPendingEvents = [];\n"
    "  }\n"
    "  window.__pelkoPendingEvents.push(event);\n"
    "})();";

// Writes JSON text as it appears inside the script's single-quoted literal: the same text that
// json::encode gives ("/" as "\/", invalid UTF-8 as U+FFFD, a non-finite number an EncodeError),
// with backslashes and single quotes escaped for the literal, in one pass and without intermediate
// copies.
enum : unsigned char { kVerbatim, kEscaped, kSlowPath };

constexpr std::array<unsigned char, 256> scriptCharClasses() {
    std::array<unsigned char, 256> classes{};
    for (int c = 0; c < 256; ++c) classes[c] = (c < 0x20 || c >= 0x80) ? kSlowPath : kVerbatim;
    for (char c : {'"', '\\', '/', '\''}) classes[static_cast<unsigned char>(c)] = kEscaped;
    return classes;
}

constexpr auto kScriptCharClasses = scriptCharClasses();

// True when none of the eight bytes at `p` is a control character, non-ASCII, or one of the four
// characters that need escaping (word-at-a-time byte tests).
inline bool plainWord(const char* p) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    auto hasZeroByte = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    std::uint64_t special = (word & highs) | ((word - ones * 0x20) & ~word & highs) |
                            hasZeroByte(word ^ (ones * '"')) | hasZeroByte(word ^ (ones * '\\')) |
                            hasZeroByte(word ^ (ones * '/')) | hasZeroByte(word ^ (ones * '\''));
    return special == 0;
}

// JSON text from the JSON library (with "/" not yet escaped) made ready for the literal.
void appendEscapedForScript(std::string& out, std::string_view jsonText) {
    const char* run = jsonText.data();
    const char* end = run + jsonText.size();
    for (const char* p = run; p != end; ++p) {
        char c = *p;
        if (c != '\\' && c != '\'' && c != '/') continue;
        out.append(run, p);
        if (c == '/') {
            out.append(R"(\\/)");
        } else {
            out.push_back('\\');
            out.push_back(c);
        }
        run = p + 1;
    }
    out.append(run, end);
}

void appendScriptString(std::string& out, std::string_view text) {
    const std::size_t start = out.size();
    out.push_back('"');
    const char* run = text.data();
    const char* end = run + text.size();
    for (const char* p = run; p != end; ++p) {
        // Skip eight plain characters at a time; base64 output is almost all plain.
        while (end - p >= 8 && plainWord(p)) p += 8;
        if (p == end) break;
        unsigned char charClass = kScriptCharClasses[static_cast<unsigned char>(*p)];
        if (charClass == kVerbatim) continue;
        if (charClass == kSlowPath) {
            // Control characters and non-ASCII text go through the JSON library, which also
            // replaces invalid UTF-8.
            out.resize(start);
            appendEscapedForScript(
                out, Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace));
            return;
        }
        out.append(run, p);
        switch (*p) {
            case '"':
                out.append(R"(\\")");
                break;
            case '\\':
                out.append(R"(\\\\)");
                break;
            case '/':
                out.append(R"(\\/)");
                break;
            default:
                out.append(R"(\')");
                break;
        }
        run = p + 1;
    }
    out.append(run, end);
    out.push_back('"');
}

// Roughly the script length of a value, so the script is allocated once.
std::size_t estimatedScriptSize(const Json& value) {
    switch (value.type()) {
        case Json::value_t::object: {
            std::size_t size = 2;
            for (const auto& item : value.items()) {
                size += item.key().size() + 4 + estimatedScriptSize(item.value());
            }
            return size;
        }
        case Json::value_t::array: {
            std::size_t size = 2;
            for (const auto& element : value) size += 1 + estimatedScriptSize(element);
            return size;
        }
        case Json::value_t::string: {
            std::size_t length = value.get_ref<const std::string&>().size();
            return length + length / 16 + 2;
        }
        default:
            return 24;
    }
}

void appendScriptJson(std::string& out, const Json& value) {
    switch (value.type()) {
        case Json::value_t::object: {
            out.push_back('{');
            bool first = true;
            for (const auto& item : value.items()) {
                if (!first) out.push_back(',');
                first = false;
                appendScriptString(out, item.key());
                out.push_back(':');
                appendScriptJson(out, item.value());
            }
            out.push_back('}');
            return;
        }
        case Json::value_t::array: {
            out.push_back('[');
            bool first = true;
            for (const auto& element : value) {
                if (!first) out.push_back(',');
                first = false;
                appendScriptJson(out, element);
            }
            out.push_back(']');
            return;
        }
        case Json::value_t::string:
            appendScriptString(out, value.get_ref<const std::string&>());
            return;
        case Json::value_t::number_float:
            if (!std::isfinite(value.get<double>())) throw EncodeError("non-finite number");
            out.append(value.dump());
            return;
        default:
            out.append(value.dump());
            return;
    }
}

// Standard base64 with padding through libcrypto's block encoder: terminal output is the
// highest-rate event, and this is several times faster than encoding character by character.
std::string base64Block(std::span<const std::uint8_t> bytes) {
    std::string text((bytes.size() + 2) / 3 * 4, '\0');
    if (text.empty()) return text;
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                    static_cast<int>(bytes.size()));
    return text;
}

constexpr std::size_t kMaxExplorerPaths = 512;
constexpr int kInterruptSignal = SIGINT;

// Non-throwing field readers for page messages: a value of another type counts as absent.
const Json* field(const Json* object, std::string_view key) {
    if (!object || !object->is_object()) return nullptr;
    auto found = object->find(std::string(key));
    if (found == object->end() || found->is_null()) return nullptr;
    return &*found;
}

std::optional<std::string> stringField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<bool> boolField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::optional<Uuid> uuidField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return Uuid::parse(value->get_ref<const std::string&>());
}

// An integer, range-checked: a fractional or out-of-range number counts as absent.
std::optional<std::int64_t> integerField(const Json* object, std::string_view key) {
    if (!object || !object->is_object()) return std::nullopt;
    try {
        return json::optInteger(*object, key);
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

// An array whose elements are all strings; anything else counts as absent.
std::optional<std::vector<std::string>> stringArrayField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    if (!value || !value->is_array()) return std::nullopt;
    std::vector<std::string> strings;
    strings.reserve(value->size());
    for (const auto& element : *value) {
        if (!element.is_string()) return std::nullopt;
        strings.push_back(element.get<std::string>());
    }
    return strings;
}

// A terminal size from a page number: the fraction is cut off; anything absent or not a number, or a
// number outside the 64-bit range (1e300), gives 0 and is refused by the caller.
std::int64_t truncatedSize(const Json* value) {
    if (!value || !value->is_number()) return 0;
    Json holder = Json::object();
    holder["value"] = value->is_number_float() ? Json(std::trunc(value->get<double>())) : *value;
    return integerField(&holder, "value").value_or(0);
}

// The analytics properties of a page event: empty unless `properties` is an object.
AnalyticsProperties sanitizeAnalyticsProperties(const Json* properties) {
    AnalyticsProperties result;
    if (!properties || !properties->is_object()) return result;
    for (const auto& [key, value] : properties->items()) {
        if (value.is_boolean()) {
            result.emplace(key, value.get<bool>());
        } else if (value.is_string()) {
            result.emplace(key, value.get<std::string>());
        } else if (value.is_number_integer() && !value.is_number_unsigned()) {
            result.emplace(key, value.get<std::int64_t>());
        } else if (value.is_number_unsigned()) {
            auto number = value.get<std::uint64_t>();
            if (number <= static_cast<std::uint64_t>(INT64_MAX)) {
                result.emplace(key, static_cast<std::int64_t>(number));
            } else {
                result.emplace(key, static_cast<double>(number));
            }
        } else if (value.is_number_float()) {
            result.emplace(key, value.get<double>());
        } else {
            result.emplace(key, value);
        }
    }
    return result;
}

std::string upperCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string result;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) result += separator;
        result += parts[i];
    }
    return result;
}

enum class MessageGroup {
    terminal,
    project,
    gitHubOAuth,
    git,
    previewTabs,
    dashboardPresent,
    dashboardDismiss,
    configRequest,
    analytics
};

const std::unordered_map<std::string, MessageGroup>& messageGroups() {
    static const std::unordered_map<std::string, MessageGroup> groups = [] {
        std::unordered_map<std::string, MessageGroup> table;
        for (const char* type :
             {"terminal/input", "cli/input", "terminal/create", "cli/create", "terminal/close", "cli/close",
              "terminal/resize", "cli/resize", "terminal/signal", "cli/signal", "terminal/focus"}) {
            table.emplace(type, MessageGroup::terminal);
        }
        for (const char* type : {"project/open", "project/close", "project/explorer/directories/request",
                                 "project/file/open", "project/file/save", "project/file/rename",
                                 "project/activate", "project/resume", "project/reorder"}) {
            table.emplace(type, MessageGroup::project);
        }
        for (const char* type : {"github/oauth/start", "github/oauth/logout", "github/oauth/requestStatus"}) {
            table.emplace(type, MessageGroup::gitHubOAuth);
        }
        for (const char* type :
             {"git/status", "git/status/detail", "git/commit", "git/push", "git/pull", "git/fetch",
              "git/diff", "git/history", "git/graph", "git/remote/tracking", "git/working-tree",
              "git/refresh/barrier", "git/commit/diff", "git/branch-map"}) {
            table.emplace(type, MessageGroup::git);
        }
        for (const char* type :
             {"previewTabs/persist", "previewTabs/cache/write", "previewTabs/limitReached"}) {
            table.emplace(type, MessageGroup::previewTabs);
        }
        table.emplace("dashboard.present", MessageGroup::dashboardPresent);
        table.emplace("dashboard.dismiss", MessageGroup::dashboardDismiss);
        table.emplace("app/config/request", MessageGroup::configRequest);
        table.emplace("analytics/event", MessageGroup::analytics);
        return table;
    }();
    return groups;
}

}  // namespace

struct WebBridge::State {
    Published<std::optional<Uuid>> activeProjectID{std::nullopt};
    std::weak_ptr<ScriptEvaluating> webView;
    bool hasWebView = false;
    bool isWebViewReady = false;
    std::weak_ptr<TerminalService> terminalService;
    std::weak_ptr<GitServicing> gitService;
    std::weak_ptr<ConfigStore> configStore;
    std::weak_ptr<DashboardControlling> dashboardController;
    // Set during wiring, before any service reports, and never changed afterwards, so the Git relay
    // may read it from the Git service's queues.
    std::shared_ptr<GitAuthProviding> authManager;
    std::shared_ptr<GitHubOAuthCoordinating> oauthCoordinator;
    std::shared_ptr<GitTokenRefreshing> tokenRefresher;
    std::shared_ptr<SecurityEventLogging> securityLogger;
    std::shared_ptr<PreviewTabsPersistenceService> previewTabsService;
    std::shared_ptr<AnalyticsLogging> analyticsLogger;
    std::shared_ptr<FolderPicking> folderPicker;
    std::vector<std::string> pendingScripts;
    std::optional<AppConfig> cachedConfig;
    std::shared_ptr<SerialQueue> fileQueue = std::make_shared<SerialQueue>(WebBridge::fileQueueLabel);
    SystemLogger previewTabsLogger{"app.pelko.webbridge", "previewTabs"};
    std::shared_ptr<GestureBridge> gestureBridge;
    std::shared_ptr<ExplorerService> explorerService;
    std::optional<Uuid> monitoredExplorerProjectID;
    std::shared_ptr<const ProjectFileOperations> fileOperations = std::make_shared<ProjectFileOperations>();
};

// ---------------------------------------------------------------------------------------------------
// Construction and wiring

std::shared_ptr<WebBridge> WebBridge::create(std::shared_ptr<GestureBridge> gestureBridge,
                                             std::shared_ptr<ExplorerService> explorerService) {
    return std::make_shared<WebBridge>(Passkey{}, std::move(gestureBridge), std::move(explorerService));
}

WebBridge::WebBridge(Passkey, std::shared_ptr<GestureBridge> gestureBridge,
                     std::shared_ptr<ExplorerService> explorerService)
    : state_(std::make_unique<State>()) {
    state_->gestureBridge = std::move(gestureBridge);
    state_->explorerService =
        explorerService ? std::move(explorerService) : std::make_shared<ExplorerService>();
}

WebBridge::~WebBridge() {
    state_->explorerService->stopMonitoring();
}

void WebBridge::configure(const std::shared_ptr<TerminalService>& terminalService,
                          const std::shared_ptr<GitServicing>& gitService,
                          const std::shared_ptr<ConfigStore>& configStore,
                          std::shared_ptr<GitAuthProviding> authManager,
                          std::shared_ptr<SecurityEventLogging> securityLogger,
                          std::shared_ptr<PreviewTabsPersistenceService> previewTabsService,
                          const std::shared_ptr<DashboardControlling>& dashboardController,
                          std::shared_ptr<AnalyticsLogging> analyticsLogger) {
    if (terminalService) terminalService->attach(std::weak_ptr<TerminalBridging>(shared_from_this()));
    state_->terminalService = terminalService;
    if (gitService) gitService->setEventSink(std::weak_ptr<GitServiceEventSink>(shared_from_this()));
    state_->gitService = gitService;
    state_->configStore = configStore;
    state_->authManager = std::move(authManager);
    dispatchOAuthStatus(loadStoredToken(), false, std::nullopt);
    state_->securityLogger = std::move(securityLogger);
    state_->previewTabsService = std::move(previewTabsService);
    state_->dashboardController = dashboardController;
    state_->analyticsLogger = std::move(analyticsLogger);
}

void WebBridge::attach(std::shared_ptr<GitHubOAuthCoordinating> oauthCoordinator,
                       std::shared_ptr<GitTokenRefreshing> tokenRefresher) {
    state_->oauthCoordinator = std::move(oauthCoordinator);
    state_->tokenRefresher = std::move(tokenRefresher);
    if (state_->oauthCoordinator) {
        state_->oauthCoordinator->setDelegate(
            std::weak_ptr<GitHubOAuthCoordinatorDelegate>(shared_from_this()));
    }
    if (state_->tokenRefresher) {
        state_->tokenRefresher->setDelegate(std::weak_ptr<GitTokenRefresherDelegate>(shared_from_this()));
    }
    dispatchOAuthStatus(loadStoredToken(), false, std::nullopt);
}

void WebBridge::setFolderPicker(std::shared_ptr<FolderPicking> folderPicker) {
    state_->folderPicker = std::move(folderPicker);
}

// ---------------------------------------------------------------------------------------------------
// Web view and event delivery

void WebBridge::attachWebView(const std::shared_ptr<ScriptEvaluating>& webView) {
    if (state_->hasWebView && state_->webView.lock() == webView) return;
    state_->webView = webView;
    state_->hasWebView = true;
    state_->isWebViewReady = false;
}

void WebBridge::notifyWebViewDidStartNavigation() {
    state_->isWebViewReady = false;
}

void WebBridge::notifyWebViewDidFinishNavigation() {
    state_->isWebViewReady = true;
    std::size_t held = state_->pendingScripts.size();
    flushPendingScripts();
    if (held == 0 && state_->cachedConfig) {
        AppConfig config = *state_->cachedConfig;
        updateConfigSnapshot(config);
    }
}

bool WebBridge::isWebViewReady() const {
    return state_->isWebViewReady;
}

std::string_view WebBridge::scriptHead() {
    return kScriptHead;
}

std::string_view WebBridge::scriptTail() {
    return kScriptTail;
}

void WebBridge::dispatchEvent(const std::string& type, const Json& payload) {
    dispatchEvent(weak_from_this(), type, payload);
}

void WebBridge::dispatchEvent(const std::weak_ptr<WebBridge>& bridge, const std::string& type,
                              const Json& payload) {
    std::string script;
    try {
        script = eventScript(type, payload);
    } catch (const EncodeError&) {
        return;  // a non-finite number: the event cannot be sent
    }
    if (MainQueue::isMainThread()) {
        if (auto self = bridge.lock()) self->deliver(std::move(script));
        return;
    }
    MainQueue::shared().async([weak = bridge, script = std::move(script)]() mutable {
        if (auto self = weak.lock()) self->deliver(std::move(script));
    });
}

std::string WebBridge::eventScript(const std::string& type, const Json& payload) {
    std::string script;
    script.reserve(kScriptHead.size() + kScriptTail.size() + type.size() + 32 + estimatedScriptSize(payload));
    script.append(kScriptHead);
    script.append(R"({"type":)");
    appendScriptString(script, type);
    script.append(R"(,"payload":)");
    appendScriptJson(script, payload);
    script.push_back('}');
    script.append(kScriptTail);
    return script;
}

void WebBridge::dispatchEventLater(BridgeEvent event) {
    MainQueue::shared().async([weak = weak_from_this(), event = std::move(event)] {
        dispatchEvent(weak, event.type, event.payload);
    });
}

void WebBridge::deliver(std::string script) {
    auto webView = state_->webView.lock();
    if (webView && state_->isWebViewReady) {
        webView->evaluateScript(script);
        return;
    }
    state_->pendingScripts.push_back(std::move(script));
}

void WebBridge::flushPendingScripts() {
    auto webView = state_->webView.lock();
    if (!webView || !state_->isWebViewReady) return;
    std::vector<std::string> scripts;
    scripts.swap(state_->pendingScripts);
    for (const auto& script : scripts) webView->evaluateScript(script);
}

void WebBridge::runOnMain(std::function<void(WebBridge&)> work) {
    if (MainQueue::isMainThread()) {
        work(*this);
        return;
    }
    runOnMainLater(std::move(work));
}

void WebBridge::runOnMainLater(std::function<void(WebBridge&)> work) {
    MainQueue::shared().async([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) work(*self);
    });
}

// ---------------------------------------------------------------------------------------------------
// Configuration, activation, gestures

void WebBridge::updateConfigSnapshot(const AppConfig& config) {
    state_->cachedConfig = config;
    dispatchEvent("app/config", ConfigSnapshotPayload::from(config).toJson());
    dispatchOAuthStatus(loadStoredToken(), false, std::nullopt);
}

void WebBridge::notifyProjectActivated(const ProjectTab& tab) {
    state_->activeProjectID.set(tab.id);
    activateExplorerMonitoring(tab.id);
    dispatchEvent("project/activate", ActivationPayload{tab.id.string(), tab.name, tab.rootPath}.toJson());
    dispatchPreviewTabs(tab.id);
}

std::optional<Uuid> WebBridge::activeProjectID() const {
    return state_->activeProjectID.value();
}

Subscription WebBridge::subscribeActiveProjectID(std::function<void(const std::optional<Uuid>&)> handler) {
    return state_->activeProjectID.subscribe(std::move(handler));
}

void WebBridge::gestureBridgeDidDetect(GestureBridge&, const ColumnPinchEvent& event) {
    std::string direction = event.direction == ColumnPinchEvent::Direction::expand ? "expand" : "collapse";
    if (state_->analyticsLogger) {
        state_->analyticsLogger->log("column_pinch_gesture", {{"direction", direction},
                                                              {"magnitude", event.magnitude},
                                                              {"normalizedX", event.normalizedX},
                                                              {"normalizedY", event.normalizedY}});
    }
    ColumnPinchPayload payload{direction,       event.magnitude, event.normalizedX, event.normalizedY,
                               event.locationX, event.locationY, event.scaleFactor, event.timestamp};
    dispatchEvent("layout/column-pinch", payload.toJson());
}

// ---------------------------------------------------------------------------------------------------
// Explorer watching and listing

std::optional<std::filesystem::path> WebBridge::projectRootPath(const Uuid& projectID) const {
    auto store = state_->configStore.lock();
    if (!store) return std::nullopt;
    auto project = store->project(projectID);
    if (!project) return std::nullopt;
    return state_->fileOperations->projectRoot(project->rootPath);
}

void WebBridge::activateExplorerMonitoring(const Uuid& projectID) {
    if (state_->monitoredExplorerProjectID == projectID) return;
    auto store = state_->configStore.lock();
    auto project = store ? store->project(projectID) : std::nullopt;
    auto root = project ? state_->fileOperations->projectRoot(project->rootPath) : std::nullopt;
    if (!root) {
        state_->explorerService->stopMonitoring();
        state_->monitoredExplorerProjectID.reset();
        return;
    }
    bool started = state_->explorerService->activateMonitoring(
        projectID, *root, project->explorerExcludedPaths,
        [weak = weak_from_this()](const ExplorerChangeBatch& batch) {
            if (auto self = weak.lock()) self->onExplorerChange(batch);
        });
    state_->monitoredExplorerProjectID = started ? std::optional<Uuid>(projectID) : std::nullopt;
}

void WebBridge::onExplorerChange(const ExplorerChangeBatch& batch) {
    dispatchEvent("project/explorer/changed",
                  ExplorerChangedPayload{batch.projectId.string(), batch.directoryPaths, batch.requiresResync}
                      .toJson());
}

std::optional<Uuid> WebBridge::monitoredExplorerProjectID() const {
    return state_->monitoredExplorerProjectID;
}

void WebBridge::requestExplorerDirectories(const Uuid& projectID,
                                           const std::vector<std::string>& relativePaths,
                                           const std::string& requestId) {
    auto store = state_->configStore.lock();
    auto project = store ? store->project(projectID) : std::nullopt;
    auto root = project ? state_->fileOperations->projectRoot(project->rootPath) : std::nullopt;
    if (!root) {
        ExplorerDirectoriesPayload payload{projectID.string(), requestId, {}};
        for (const auto& path : relativePaths) payload.directories.push_back({path, {}, "invalidProject"});
        dispatchEventLater({"project/explorer/directories", payload.toJson()});
        return;
    }
    state_->fileQueue->async([weak = weak_from_this(), explorer = state_->explorerService, root = *root,
                              paths = relativePaths, excluded = project->explorerExcludedPaths,
                              projectId = projectID.string(), requestId] {
        if (weak.expired()) return;
        ExplorerDirectoriesPayload payload{projectId, requestId,
                                           explorer->listDirectories(root, paths, excluded)};
        dispatchEvent(weak, "project/explorer/directories", payload.toJson());
    });
}

// ---------------------------------------------------------------------------------------------------
// File reading, saving and renaming: the file work runs on the file queue, the answers are encoded
// there and delivered on the main thread in request order.

void WebBridge::requestFileContent(const Uuid& projectID, const std::string& relativePath,
                                   bool allowLargeFile) {
    auto root = projectRootPath(projectID);
    if (!root) {
        dispatchEventLater(ProjectFileOperations::readProjectMissing(projectID, relativePath));
        return;
    }
    state_->fileQueue->async([weak = weak_from_this(), operations = state_->fileOperations, root = *root,
                              projectID, relativePath, allowLargeFile] {
        if (weak.expired()) return;
        BridgeEvent event = operations->readFile(projectID, root, relativePath, allowLargeFile);
        dispatchEvent(weak, event.type, event.payload);
    });
}

void WebBridge::saveFileContent(const Uuid& projectID, const std::string& relativePath,
                                const std::string& content) {
    auto root = projectRootPath(projectID);
    if (!root) {
        dispatchEventLater(ProjectFileOperations::saveProjectMissing(projectID, relativePath));
        return;
    }
    state_->fileQueue->async([weak = weak_from_this(), operations = state_->fileOperations, root = *root,
                              projectID, relativePath, content] {
        if (weak.expired()) return;
        BridgeEvent event = operations->saveFile(projectID, root, relativePath, content);
        dispatchEvent(weak, event.type, event.payload);
    });
}

void WebBridge::renameItem(const Uuid& projectID, const std::string& fromPath, const std::string& toPath) {
    auto root = projectRootPath(projectID);
    if (!root) {
        dispatchEventLater(ProjectFileOperations::renameProjectMissing(projectID, fromPath));
        return;
    }
    state_->fileQueue->async([weak = weak_from_this(), operations = state_->fileOperations, root = *root,
                              projectID, fromPath, toPath] {
        if (weak.expired()) return;
        RenameOutcome outcome = operations->renameItem(projectID, root, fromPath, toPath);
        for (const auto& event : outcome.events) dispatchEvent(weak, event.type, event.payload);
        if (!outcome.renamed) return;
        // Queued behind the answers, so the page hears of the rename before the new Git status.
        MainQueue::shared().async([weak, projectID] {
            auto self = weak.lock();
            if (!self) return;
            if (auto git = self->state_->gitService.lock()) git->refreshStatus(projectID);
        });
    });
}

// ---------------------------------------------------------------------------------------------------
// Inbound routing

void WebBridge::handle(const Json& messageBody) {
    if (!messageBody.is_object()) return;
    auto typeValue = messageBody.find("type");
    if (typeValue == messageBody.end() || !typeValue->is_string()) return;
    const std::string& type = typeValue->get_ref<const std::string&>();
    auto group = messageGroups().find(type);
    if (group == messageGroups().end()) return;
    const Json* payload = nullptr;
    auto payloadValue = messageBody.find("payload");
    if (payloadValue != messageBody.end() && payloadValue->is_object()) payload = &*payloadValue;

    switch (group->second) {
        case MessageGroup::terminal:
            handleTerminalMessage(type, payload);
            break;
        case MessageGroup::project:
            handleProjectMessage(type, payload);
            break;
        case MessageGroup::gitHubOAuth:
            handleGitHubOAuthMessage(type);
            break;
        case MessageGroup::git:
            handleGitMessage(type, payload);
            break;
        case MessageGroup::previewTabs:
            handlePreviewTabsMessage(type, payload);
            break;
        case MessageGroup::dashboardPresent:
            handleDashboardPresent(payload);
            break;
        case MessageGroup::dashboardDismiss:
            handleDashboardDismiss();
            break;
        case MessageGroup::configRequest:
            handleConfigRequest();
            break;
        case MessageGroup::analytics:
            handleAnalyticsEvent(payload);
            break;
    }
}

void WebBridge::handleDashboardPresent(const Json* payload) {
    bool forceRefresh = boolField(payload, "forceRefresh").value_or(false);
    auto source = stringField(payload, "source");
    // The controller lives on the main thread; the request runs there later and finds it gone, or not.
    MainQueue::shared().async([controller = state_->dashboardController, forceRefresh, source] {
        if (auto strong = controller.lock()) strong->present(forceRefresh, source);
    });
}

void WebBridge::handleDashboardDismiss() {
    auto controller = state_->dashboardController.lock();
    if (!controller) return;
    MainQueue::shared().async([controller] { controller->dismiss(); });
}

void WebBridge::handleConfigRequest() {
    runOnMain([](WebBridge& self) {
        if (self.state_->cachedConfig) {
            AppConfig config = *self.state_->cachedConfig;
            self.updateConfigSnapshot(config);
        } else if (auto store = self.state_->configStore.lock()) {
            self.updateConfigSnapshot(store->config());
        }
    });
}

// ---------------------------------------------------------------------------------------------------
// Terminal requests

void WebBridge::handleTerminalMessage(const std::string& type, const Json* payload) {
    auto service = state_->terminalService.lock();
    if (!service) return;
    if (type == "terminal/create" || type == "cli/create") {
        auto title = stringField(payload, "title");
        auto projectID = uuidField(payload, "projectId");
        service->createSession(title, projectID);
        return;
    }
    auto sessionID = uuidField(payload, "sessionId");
    if (!sessionID) return;

    if (type == "terminal/input" || type == "cli/input") {
        auto data = stringField(payload, "data");
        if (!data) return;
        std::vector<std::uint8_t> bytes;
        if (stringField(payload, "encoding") == "base64") {
            auto decoded = base64::decode(*data);
            if (!decoded) return;
            bytes = std::move(*decoded);
        } else {
            bytes.assign(data->begin(), data->end());
        }
        if (!service->isTerminalV2Enabled()) {
            service->notifyUnavailable(*sessionID, std::nullopt);
            return;
        }
        service->coordinator().write(*sessionID, bytes);
    } else if (type == "terminal/close" || type == "cli/close") {
        service->closeSession(*sessionID);
    } else if (type == "terminal/resize" || type == "cli/resize") {
        std::int64_t cols = truncatedSize(field(payload, "cols"));
        std::int64_t rows = truncatedSize(field(payload, "rows"));
        if (cols < 1 || rows < 1) return;
        service->resizeSession(*sessionID, cols, rows);
    } else if (type == "terminal/signal" || type == "cli/signal") {
        auto signal = stringField(payload, "signal");
        if (!signal) return;
        if (!service->isTerminalV2Enabled()) return;
        if (upperCased(*signal) == "SIGINT") service->coordinator().sendSignal(*sessionID, kInterruptSignal);
    } else if (type == "terminal/focus") {
        auto focused = boolField(payload, "focused");
        if (!focused) return;
        service->setInputFocus(*sessionID, *focused);
    }
}

// ---------------------------------------------------------------------------------------------------
// Project requests

void WebBridge::handleProjectMessage(const std::string& type, const Json* payload) {
    if (type == "project/open") {
        runOnMain([](WebBridge& self) { self.openProjects(); });
    } else if (type == "project/close") {
        auto projectID = uuidField(payload, "projectId");
        if (!projectID) return;
        runOnMain([projectID = *projectID](WebBridge& self) { self.closeProject(projectID); });
    } else if (type == "project/explorer/directories/request") {
        auto projectID = uuidField(payload, "projectId");
        auto paths = stringArrayField(payload, "paths");
        if (!projectID || !paths || paths->empty()) return;
        std::vector<std::string> distinct;
        std::unordered_set<std::string> seen;
        for (auto& path : *paths) {
            if (distinct.size() == kMaxExplorerPaths) break;
            if (seen.insert(path).second) distinct.push_back(std::move(path));
        }
        std::string requestId = stringField(payload, "requestId").value_or(Uuid::random().string());
        requestExplorerDirectories(*projectID, distinct, requestId);
    } else if (type == "project/file/open") {
        auto projectID = uuidField(payload, "projectId");
        auto path = stringField(payload, "path");
        if (!projectID || !path) return;
        requestFileContent(*projectID, *path, boolField(payload, "allowLargeFile").value_or(false));
    } else if (type == "project/file/save") {
        auto projectID = uuidField(payload, "projectId");
        auto path = stringField(payload, "path");
        auto content = stringField(payload, "content");
        if (!projectID || !path || !content) return;
        saveFileContent(*projectID, *path, *content);
    } else if (type == "project/file/rename") {
        auto projectID = uuidField(payload, "projectId");
        auto path = stringField(payload, "path");
        auto nextPath = stringField(payload, "nextPath");
        if (!projectID || !path || !nextPath) return;
        renameItem(*projectID, *path, *nextPath);
    } else if (type == "project/activate") {
        auto projectID = uuidField(payload, "id");
        if (!projectID) return;
        runOnMain([projectID = *projectID](WebBridge& self) { self.activateProject(projectID); });
        // On the main thread the activation above has already run; from elsewhere the refresh is
        // requested first.
        if (auto git = state_->gitService.lock()) git->refreshStatus(*projectID);
    } else if (type == "project/resume") {
        runOnMain([](WebBridge& self) { self.resumeWorkspace(); });
    } else if (type == "project/reorder") {
        auto order = stringArrayField(payload, "order");
        if (!order) return;
        std::vector<Uuid> ids;
        for (const auto& text : *order) {
            if (auto id = Uuid::parse(text)) ids.push_back(*id);
        }
        if (ids.empty()) return;
        runOnMain([ids = std::move(ids)](WebBridge& self) { self.reorderProjects(ids); });
    }
}

void WebBridge::openProjects() {
    if (!state_->folderPicker) return;
    state_->folderPicker->pickFolders(
        [weak = weak_from_this()](const std::vector<std::filesystem::path>& folders) {
            auto self = weak.lock();
            if (!self || folders.empty()) return;
            auto store = self->state_->configStore.lock();
            std::vector<ProjectMetadata> opened =
                store ? store->openProjects(folders) : std::vector<ProjectMetadata>{};
            for (const auto& project : opened) {
                if (auto git = self->state_->gitService.lock()) git->refreshStatus(project.id);
            }
        });
}

void WebBridge::closeProject(const Uuid& projectID) {
    auto store = state_->configStore.lock();
    if (!store) return;
    if (state_->monitoredExplorerProjectID == projectID) {
        state_->explorerService->stopMonitoring();
        state_->monitoredExplorerProjectID.reset();
    }
    auto result = store->closeProject(projectID);
    if (!result || result->removedSessionIDs.empty()) return;
    if (auto terminal = state_->terminalService.lock())
        terminal->terminateSessions(result->removedSessionIDs);
}

void WebBridge::activateProject(const Uuid& projectID) {
    auto store = state_->configStore.lock();
    auto project = store ? store->project(projectID) : std::nullopt;
    if (store) store->setActiveProject(projectID);
    state_->activeProjectID.set(projectID);
    activateExplorerMonitoring(projectID);
    dispatchPreviewTabs(projectID);
    if (state_->dashboardController.lock()) {
        std::optional<std::string> name = project ? std::optional<std::string>(project->name) : std::nullopt;
        MainQueue::shared().async([controller = state_->dashboardController, projectID, name] {
            if (auto strong = controller.lock()) strong->noteCardOpened(projectID, name);
        });
    }
}

void WebBridge::resumeWorkspace() {
    auto store = state_->configStore.lock();
    if (!store) {
        dispatchEvent("project/resume/error",
                      ResumeErrorPayload{"config-unavailable", "設定を読み込めませんでした"}.toJson());
        return;
    }
    auto active = store->resumeWorkspace();
    if (!active) {
        dispatchEvent("project/resume/error",
                      ResumeErrorPayload{"no-projects", "復元できるプロジェクトが見つかりません"}.toJson());
        return;
    }
    if (auto git = state_->gitService.lock()) git->refreshStatus(*active);
}

void WebBridge::reorderProjects(const std::vector<Uuid>& order) {
    if (auto store = state_->configStore.lock()) store->reorderProjects(order);
}

// ---------------------------------------------------------------------------------------------------
// Git requests

void WebBridge::handleGitMessage(const std::string& type, const Json* payload) {
    auto git = state_->gitService.lock();
    if (!git) return;
    auto projectID = uuidField(payload, "projectId");
    if (type == "git/status") {
        git->refreshStatus(projectID);
        return;
    }
    if (!projectID) return;
    const Uuid& id = *projectID;

    if (type == "git/status/detail") {
        git->fetchStatusDetail(id);
    } else if (type == "git/commit") {
        auto message = stringField(payload, "message");
        if (!message) return;
        git->commit(id, *message);
    } else if (type == "git/push") {
        git->push(id);
    } else if (type == "git/pull") {
        git->pull(id);
    } else if (type == "git/fetch") {
        git->fetch(id);
    } else if (type == "git/diff") {
        std::vector<GitDiffTarget> targets;
        const Json* list = field(payload, "targets");
        bool allObjects =
            list && list->is_array() &&
            std::all_of(list->begin(), list->end(), [](const Json& e) { return e.is_object(); });
        if (allObjects) {
            for (const auto& element : *list) {
                auto path = stringField(&element, "path");
                if (!path) continue;
                auto stageText = stringField(&element, "stage");
                GitDiffStage stage = GitDiffStage::unstaged;
                if (stageText == "staged") stage = GitDiffStage::staged;
                if (stageText == "head") stage = GitDiffStage::head;
                targets.push_back({*path, stage});
            }
        }
        git->fetchDiff(id, targets);
    } else if (type == "git/commit/diff") {
        auto commit = stringField(payload, "commit");
        if (!commit) return;
        git->fetchCommitDiff(id, *commit, stringField(payload, "path"));
    } else if (type == "git/working-tree") {
        git->fetchWorkingTree(id);
    } else if (type == "git/branch-map") {
        std::int64_t limit = integerField(payload, "limit").value_or(50);
        git->fetchBranchMap(id, limit);
    } else if (type == "git/history") {
        auto cursor = stringField(payload, "cursorPayload");
        if (!cursor) cursor = stringField(payload, "cursor");
        std::int64_t pageSize = integerField(payload, "pageSize").value_or(20);
        auto requestId = stringField(payload, "requestId");
        git->fetchCommitHistory(id, cursor, pageSize, requestId);
    } else if (type == "git/graph") {
        std::int64_t pageSize = integerField(payload, "pageSize").value_or(50);
        git->fetchCommitGraph(id, pageSize);
    } else if (type == "git/remote/tracking") {
        git->fetchRemoteTracking(id);
    } else if (type == "git/refresh/barrier") {
        auto requestId = stringField(payload, "requestId");
        if (!requestId) return;
        git->reachRefreshBarrier(id, *requestId);
    }
}

// ---------------------------------------------------------------------------------------------------
// Preview tabs

void WebBridge::handlePreviewTabsMessage(const std::string& type, const Json* payload) {
    if (type == "previewTabs/persist") {
        auto projectText = stringField(payload, "projectId");
        auto projectID = projectText ? Uuid::parse(*projectText) : std::nullopt;
        if (!projectID) return;
        // Present with any value, null included: a null snapshot is reported as invalid below.
        auto snapshotValue = payload->find("snapshot");
        if (snapshotValue == payload->end()) return;
        const Json* snapshot = &*snapshotValue;
        auto store = state_->configStore.lock();
        auto project = store ? store->project(*projectID) : std::nullopt;
        if (!project || !state_->previewTabsService) return;
        if (!snapshot->is_object() && !snapshot->is_array()) {
            state_->previewTabsLogger.error("previewTabs: invalid snapshot payload for project " +
                                            *projectText);
            return;
        }
        std::string failure;
        try {
            PreviewTabsState state = PreviewTabsState::fromJson(*snapshot);
            if (auto error = state_->previewTabsService->persist(state, *project))
                failure = error->description();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        if (!failure.empty()) {
            state_->previewTabsLogger.error("previewTabs: failed to persist snapshot for project " +
                                            *projectText + ": " + failure);
        }
    } else if (type == "previewTabs/cache/write" || type == "previewTabs/limitReached") {
        auto projectText = stringField(payload, "projectId");
        if (!projectText) return;
        state_->previewTabsLogger.notice(type == "previewTabs/cache/write"
                                             ? "previewTabs: session cache write for project " + *projectText
                                             : "previewTabs: limit reached for project " + *projectText);
    }
}

void WebBridge::dispatchPreviewTabs(const Uuid& projectID) {
    auto store = state_->configStore.lock();
    auto project = store ? store->project(projectID) : std::nullopt;
    if (!project || !state_->previewTabsService) return;
    PreviewTabsHydrationResult result = state_->previewTabsService->hydrateSnapshot(*project);
    dispatchEvent("previewTab:hydrate", PreviewTabsHydratePayload{projectID.string(), result.state}.toJson());
    if (!result.warnings.empty()) {
        dispatchEvent("previewTab:warning",
                      PreviewTabWarningPayload{projectID.string(), result.warnings}.toJson());
    }
}

// ---------------------------------------------------------------------------------------------------
// Analytics

void WebBridge::handleAnalyticsEvent(const Json* payload) {
    if (!state_->analyticsLogger) return;
    auto name = stringField(payload, "name");
    if (!name || name->empty()) return;
    state_->analyticsLogger->log(*name, sanitizeAnalyticsProperties(field(payload, "properties")));
}

// ---------------------------------------------------------------------------------------------------
// GitHub sign-in relay

std::optional<OAuthTokenRecord> WebBridge::loadStoredToken() const {
    if (!state_->authManager) return std::nullopt;
    return state_->authManager->loadToken();
}

void WebBridge::logSecurityEvent(SecurityEventAction action, const std::optional<std::string>& login,
                                 const std::optional<SecurityEventLogging::Metadata>& metadata) const {
    if (state_->securityLogger) state_->securityLogger->log(action, login, metadata);
}

void WebBridge::logSecurityEventForStoredAccount(SecurityEventAction action,
                                                 const SecurityEventLogging::Metadata& metadata) const {
    // The token store is read only when there is a logger to tell.
    if (!state_->securityLogger) return;
    auto token = loadStoredToken();
    state_->securityLogger->log(action, token ? token->accountLogin : std::nullopt, metadata);
}

bool WebBridge::isNonExpiring(const Date& date) {
    if (date == Date::distantFuture()) return true;
    time_t seconds = static_cast<time_t>(date.seconds());
    struct tm local {};
    if (!localtime_r(&seconds, &local)) return false;
    return local.tm_year + 1900 > 2099;
}

void WebBridge::dispatchOAuthStatus(const std::optional<OAuthTokenRecord>& record, bool refreshed,
                                    const std::optional<std::string>& reason) {
    GitOAuthStatusPayload payload;
    if (record) {
        payload.status = "connected";
        if (record->accountLogin)
            payload.account = GitOAuthAccountPayload{*record->accountLogin, record->accountAvatarURL};
        if (!isNonExpiring(record->expiresAt)) payload.expiresAt = record->expiresAt.isoMilliseconds();
        if (refreshed) payload.refreshed = true;
    } else {
        payload.status = "disconnected";
    }
    payload.reason = reason;
    dispatchEvent("github/oauth/status", payload.toJson());
}

void WebBridge::handleGitHubOAuthMessage(const std::string& type) {
    if (type == "github/oauth/start") {
        logSecurityEventForStoredAccount(SecurityEventAction::oauthStart,
                                         SecurityEventLogging::Metadata{{"initiator", "user"}});
        // Always a later turn of the main queue, so the page's message handling has finished first.
        runOnMainLater([](WebBridge& self) {
            if (self.state_->oauthCoordinator) {
                self.state_->oauthCoordinator->startAuthorization(GitHubOAuthCoordinating::Initiator::user);
            }
        });
    } else if (type == "github/oauth/logout") {
        std::optional<std::string> login;
        if (state_->authManager) {
            if (auto token = state_->authManager->loadToken()) login = token->accountLogin;
            state_->authManager->deleteToken();
        }
        if (state_->tokenRefresher) state_->tokenRefresher->stop();
        logSecurityEvent(SecurityEventAction::oauthLogout, login, std::nullopt);
        dispatchOAuthStatus(loadStoredToken(), false, "userLogout");
    } else if (type == "github/oauth/requestStatus") {
        dispatchOAuthStatus(loadStoredToken(), false, std::nullopt);
    }
}

void WebBridge::gitHubOAuthCoordinatorDidComplete(GitHubOAuthCoordinating&, const OAuthTokenRecord& record) {
    runOnMainLater([record](WebBridge& self) {
        self.logSecurityEvent(
            SecurityEventAction::oauthSuccess, record.accountLogin,
            SecurityEventLogging::Metadata{{"expiresAt", record.expiresAt.isoMilliseconds()},
                                           {"scopes", joined(record.scope, " ")}});
        self.dispatchOAuthStatus(self.loadStoredToken(), false, std::nullopt);
    });
}

void WebBridge::gitHubOAuthCoordinatorDidFail(GitHubOAuthCoordinating&, const std::string& errorDescription) {
    runOnMainLater([errorDescription](WebBridge& self) {
        self.logSecurityEventForStoredAccount(SecurityEventAction::oauthFailure,
                                              SecurityEventLogging::Metadata{{"error", errorDescription}});
        self.dispatchEvent("github/oauth/error", GitOAuthErrorPayload{errorDescription, true}.toJson());
    });
}

void WebBridge::gitTokenRefresherDidRefresh(GitTokenRefreshing&, const OAuthTokenRecord& record) {
    runOnMainLater([record](WebBridge& self) {
        self.logSecurityEvent(
            SecurityEventAction::oauthRefreshSuccess, record.accountLogin,
            SecurityEventLogging::Metadata{{"expiresAt", record.expiresAt.isoMilliseconds()}});
        self.dispatchOAuthStatus(self.loadStoredToken(), true, std::nullopt);
    });
}

void WebBridge::gitTokenRefresherDidFail(GitTokenRefreshing&, const std::string& errorDescription) {
    runOnMainLater([errorDescription](WebBridge& self) {
        self.logSecurityEventForStoredAccount(SecurityEventAction::oauthRefreshFailure,
                                              SecurityEventLogging::Metadata{{"error", errorDescription}});
        self.dispatchOAuthStatus(self.loadStoredToken(), false, "refreshFailed");
        self.dispatchEvent("github/oauth/error", GitOAuthErrorPayload{errorDescription, true}.toJson());
    });
}

void WebBridge::gitServiceDidUpdateOAuthStatus(const GitOAuthStatusPayload& payload) {
    if (payload.status == "disconnected" && payload.reason == "tokenInvalid") {
        logSecurityEvent(SecurityEventAction::oauthTokenInvalid,
                         payload.account ? std::optional<std::string>(payload.account->login) : std::nullopt,
                         SecurityEventLogging::Metadata{{"reason", *payload.reason}});
    }
    dispatchEvent("github/oauth/status", payload.toJson());
}

// ---------------------------------------------------------------------------------------------------
// Events of the other services

void WebBridge::dispatchTerminalSnapshot(const TerminalSnapshotPayload& payload) {
    dispatchEvent("terminal/snapshot", payload.toJson());
}

void WebBridge::dispatchTerminalCreated(const TerminalCreatedPayload& payload) {
    dispatchEvent("terminal/created", payload.toJson());
}

void WebBridge::dispatchTerminalStatus(const std::string& sessionId, const std::string& status,
                                       std::optional<std::int32_t> exitCode) {
    TerminalStatusPayload payload{sessionId, status, std::nullopt};
    if (exitCode) payload.exitCode = *exitCode;
    dispatchEvent("terminal/status", payload.toJson());
}

void WebBridge::dispatchTerminalExit(const std::string& sessionId, std::int32_t exitCode) {
    dispatchEvent("terminal/exit", TerminalExitPayload{sessionId, exitCode}.toJson());
}

void WebBridge::dispatchTerminalError(const std::string& sessionId, const std::string& message) {
    dispatchEvent("terminal/error", TerminalErrorPayload{sessionId, message, true}.toJson());
}

void WebBridge::dispatchTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data) {
    // The hottest event: built in place so the chunk is moved, never copied.
    Json payload = Json::object();
    payload["sessionId"] = sessionId;
    payload["chunk"] = base64Block(data);
    payload["encoding"] = "base64";
    dispatchEvent("terminal/output", payload);
}

void WebBridge::dispatchTerminalActivity(const std::string& sessionId) {
    dispatchEvent("terminal/activity", TerminalActivityPayload{sessionId}.toJson());
}

void WebBridge::dispatchTerminalResize(const std::string& sessionId, int cols, int rows) {
    dispatchEvent("terminal/resize", TerminalResizePayload{sessionId, cols, rows}.toJson());
}

void WebBridge::gitServiceDidUpdateStatus(const Json& payload) {
    dispatchEvent("git/status", payload);
}

void WebBridge::gitServiceDidSucceed(const std::string& message) {
    dispatchEvent("git/result", GitResultPayload{true, message}.toJson());
}

void WebBridge::gitServiceDidFail(const std::string& message) {
    dispatchEvent("git/result", GitResultPayload{false, message}.toJson());
}

void WebBridge::gitServiceDidLoadDiff(const Json& payload) {
    dispatchEvent("git/diff", payload);
}

void WebBridge::gitServiceDidLoadCommitDiff(const Json& payload) {
    dispatchEvent("git/commit/diff", payload);
}

void WebBridge::gitServiceDidLoadWorkingTree(const Json& payload) {
    dispatchEvent("git/working-tree", payload);
}

void WebBridge::gitServiceDidReachRefreshBarrier(const Json& payload) {
    dispatchEvent("git/refresh/barrier", payload);
}

void WebBridge::gitServiceDidLoadBranchMap(const Json& payload) {
    dispatchEvent("git/branch-map", payload);
}

void WebBridge::gitServiceDidFailBranchMap(const Json& payload) {
    dispatchEvent("git/branch-map/error", payload);
}

void WebBridge::gitServiceDidLoadCommitHistory(const Json& payload) {
    dispatchEvent("git/history", payload);
}

void WebBridge::gitServiceDidFailCommitHistory(const Json& payload) {
    dispatchEvent("git/history/error", payload);
}

void WebBridge::gitServiceDidLoadCommitGraph(const Json& payload) {
    dispatchEvent("git/graph", payload);
}

void WebBridge::gitServiceDidLoadStatusDetail(const Json& payload) {
    dispatchEvent("git/status/detail", payload);
}

void WebBridge::gitServiceDidUpdateRemoteTracking(const Json& payload) {
    dispatchEvent("git/remote/tracking", payload);
}

void WebBridge::emitDashboardToggled(bool open) {
    dispatchEvent("dashboard.toggled", DashboardTogglePayload{open}.toJson());
}

void WebBridge::emitDashboardMetrics(const Json& snapshot) {
    dispatchEvent("dashboard.metrics", snapshot);
}

void WebBridge::emitDashboardMetricsError(const std::string& message) {
    dispatchEvent("dashboard.metrics.error", DashboardErrorPayload{message}.toJson());
}

void WebBridge::emitSystemMetrics(const Json& snapshot) {
    dispatchEvent("system/metrics", snapshot);
}

void WebBridge::emitSystemMetricsError(const std::string& message) {
    dispatchEvent("system/metrics/error", SystemMetricsErrorPayload{message}.toJson());
}

}  // namespace pelko
