#pragma once
// WorkspaceWindow: the application's one window, a GTK 4 window holding one WebKitGTK web view.
//
// It owns the web view and reports what happens in it through Callbacks: script messages of the one
// handler "pelko" (as JSON text), navigation start, successful finish and failure (WebKit reports a
// finished load after a failed one; that one is not reported as finished), requests of the "app" URI
// scheme when a scheme handler is given (registered as secure and CORS-enabled), and files dropped on
// the view. Key presses are offered first to the key-down monitors (window capture phase), then to
// the key-equivalent handler; either may swallow the key. Touchpad pinches and swipes go to their
// monitors and are never consumed.
//
// Main thread only. Made once per process: the "app" scheme is registered on the default web context.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gui/EventMonitoring.hpp"
#include "platform/gui/SchemeResponse.hpp"

namespace pelko {

class WorkspaceWindow final : public EventMonitoring, public std::enable_shared_from_this<WorkspaceWindow> {
    struct Passkey {};

  public:
    struct Callbacks {
        std::function<void(const std::string& bodyJson)> scriptMessage;
        std::function<void()> navigationStarted;
        std::function<void()> navigationFinished;
        // The address that failed to load and why.
        std::function<void(const std::string& uri, const std::string& reason)> navigationFailed;
        // The web content process crashed or was killed (not ended by the view itself): the page is
        // gone until it is loaded again.
        std::function<void()> webProcessCrashed;
        // Empty: no "app" scheme handler is registered.
        std::function<SchemeResponse(const std::string& uri)> schemeRequest;
        std::function<void(const std::vector<std::string>& paths)> filesDropped;
        // After the key-down monitors; true swallows the key.
        std::function<bool(const KeyPress& press)> keyEquivalent;
    };

    struct Options {
        std::string title = "pelko";
        int minimumWidth = 1280;
        int minimumHeight = 800;
    };

    // `application` is the GtkApplication the window belongs to (may be null for a bare window).
    static std::shared_ptr<WorkspaceWindow> create(void* application, Callbacks callbacks,
                                                   const Options& options);
    WorkspaceWindow(Passkey, void* application, Callbacks callbacks, const Options& options);
    ~WorkspaceWindow() override;
    WorkspaceWindow(const WorkspaceWindow&) = delete;
    WorkspaceWindow& operator=(const WorkspaceWindow&) = delete;

    // The GtkWindow*, for the application shell and dialogs.
    void* window() const;

    void present();
    // `baseUri` empty: no base address.
    void loadHtml(const std::string& html, const std::string& baseUri);
    void evaluateScript(const std::string& script);
    // `onFinished` runs once on the main thread after the page has run the script, or failed to, or
    // its web view went away.
    void evaluateScript(const std::string& script, std::function<void()> onFinished);
    // Gives the web view keyboard focus on a later turn of the main loop, when it is in a window then.
    void focusWebViewSoon();

    // EventMonitoring
    Token addKeyDownMonitor(std::function<bool(const KeyPress&)> handler) override;
    Token addSwipeMonitor(std::function<void(const SwipeEvent&)> handler) override;
    Token addPinchMonitor(std::function<void(const PinchEvent&)> handler) override;
    void removeMonitor(Token token) override;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace pelko
