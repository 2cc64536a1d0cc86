#pragma once
// WorkspaceWebView: the window's web view and its coordinator. It builds the window's web view with
// the one script message handler "pelko", serves the page's files through the "app" scheme from the
// folder of the bundle's index page (none without one), loads the rewritten index page with the base
// "app://bundle/" (or the fallback page), and attaches itself to the bridge as the page's script
// target. Page messages of type "webview/log" go to the web view log, every other message to
// WebBridge::handle. Navigation start and finish drive the bridge's readiness; a failed navigation
// leaves the bridge not ready, its scripts held until a later navigation finishes. Dropped files and
// the zoom keys are handed to the page as events. When the web content process crashes the page is
// loaded again, at most three times a minute, each logged; the bridge's readiness follows the new
// navigation as for any other.
//
// Main thread only. Holds the bridge strongly (the bridge holds this weakly); made once per window.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/AppBundleSchemeHandler.hpp"
#include "app/WebProcessCrashRecovery.hpp"
#include "bridge/ScriptEvaluating.hpp"
#include "platform/Json.hpp"
#include "platform/gui/WorkspaceWindow.hpp"

namespace pelko {

class GestureBridge;
class WebBridge;
class WebViewLogger;

class WorkspaceWebView final : public ScriptEvaluating,
                               public std::enable_shared_from_this<WorkspaceWebView> {
    struct Passkey {};

  public:
    // `application` is the GtkApplication* (null for a window of its own).
    static std::shared_ptr<WorkspaceWebView> create(void* application, std::shared_ptr<WebBridge> bridge,
                                                    std::shared_ptr<GestureBridge> gestureBridge,
                                                    const std::filesystem::path& resourceBundle,
                                                    WebViewLogger& logger);
    WorkspaceWebView(Passkey, std::shared_ptr<WebBridge> bridge, std::shared_ptr<GestureBridge> gestureBridge,
                     WebViewLogger& logger);

    // Attaches to the bridge when it holds another web view, and asks for keyboard focus again.
    void update();
    const std::shared_ptr<WorkspaceWindow>& window() const { return window_; }

    // ScriptEvaluating
    void evaluateScript(const std::string& script) override;
    void evaluateScriptAndNotify(const std::string& script, std::function<void()> onEvaluated) override;

    // Coordinator: one script message body as JSON text.
    void didReceiveScriptMessage(const std::string& bodyJson);
    // The body of a script message. Page strings may hold lone UTF-16 surrogates (a string cut inside
    // an emoji), which the web engine writes as "\udXXX" escapes that a strict JSON reader rejects;
    // they become U+FFFD, like any other text that is not valid Unicode, so the message is not lost.
    static std::optional<Json> parseMessageBody(std::string_view bodyJson);

  private:
    void build(void* application, const std::filesystem::path& resourceBundle);
    void loadPage(const std::filesystem::path& indexFile);
    void webProcessDidCrash(const std::filesystem::path& indexFile);

    std::shared_ptr<WebBridge> bridge_;
    WebProcessCrashRecovery crashRecovery_;
    std::shared_ptr<GestureBridge> gestureBridge_;
    WebViewLogger& logger_;
    std::optional<AppBundleSchemeHandler> schemeHandler_;
    std::shared_ptr<WorkspaceWindow> window_;
    bool attached_ = false;
};

}  // namespace pelko
