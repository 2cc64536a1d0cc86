#include "app/WorkspaceWebView.hpp"

#include <chrono>

#include "app/FileDrop.hpp"
#include "app/GestureBridge.hpp"
#include "app/IndexPage.hpp"
#include "app/ResourceBundle.hpp"
#include "app/WebViewLogger.hpp"
#include "app/ZoomShortcut.hpp"
#include "bridge/WebBridge.hpp"
#include "platform/CutText.hpp"
#include "platform/SystemLogger.hpp"

namespace pelko {
namespace {

// The UTF-16 unit of a "\uXXXX" escape starting at `at`, or -1.
int escapedUnit(std::string_view text, size_t at) {
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
    int unit = 0;
    for (size_t i = at + 2; i < at + 6; ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

std::string replacingLoneSurrogates(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        if (text[at] != '\\' || at + 1 >= text.size()) {
            result += text[at++];
            continue;
        }
        const int unit = escapedUnit(text, at);
        if (unit < 0) {  // another escape: copy it whole, so an escaped backslash is not misread
            result.append(text.substr(at, 2));
            at += 2;
            continue;
        }
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const int next = high ? escapedUnit(text, at + 6) : -1;
        if (high && next >= 0xDC00 && next <= 0xDFFF) {
            result.append(text.substr(at, 12));
            at += 12;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            result += "\\ufffd";
            at += 6;
        } else {
            result.append(text.substr(at, 6));
            at += 6;
        }
    }
    return result;
}

}  // namespace

std::shared_ptr<WorkspaceWebView> WorkspaceWebView::create(void* application,
                                                           std::shared_ptr<WebBridge> bridge,
                                                           std::shared_ptr<GestureBridge> gestureBridge,
                                                           const std::filesystem::path& resourceBundle,
                                                           WebViewLogger& logger) {
    auto view =
        std::make_shared<WorkspaceWebView>(Passkey{}, std::move(bridge), std::move(gestureBridge), logger);
    view->build(application, resourceBundle);
    return view;
}

WorkspaceWebView::WorkspaceWebView(Passkey, std::shared_ptr<WebBridge> bridge,
                                   std::shared_ptr<GestureBridge> gestureBridge, WebViewLogger& logger)
    : bridge_(std::move(bridge)), gestureBridge_(std::move(gestureBridge)), logger_(logger) {}

void WorkspaceWebView::build(void* application, const std::filesystem::path& resourceBundle) {
    const auto indexFile = ResourceBundle::indexPage(resourceBundle);
    if (!indexFile.empty()) schemeHandler_.emplace(indexFile.parent_path());

    std::weak_ptr<WorkspaceWebView> weak = weak_from_this();
    WorkspaceWindow::Callbacks callbacks;
    callbacks.scriptMessage = [weak](const std::string& body) {
        if (auto self = weak.lock()) self->didReceiveScriptMessage(body);
    };
    callbacks.navigationStarted = [weak] {
        if (auto self = weak.lock()) self->bridge_->notifyWebViewDidStartNavigation();
    };
    callbacks.navigationFinished = [weak] {
        if (auto self = weak.lock()) self->bridge_->notifyWebViewDidFinishNavigation();
    };
    // A failed load leaves the bridge not ready: its scripts wait for a page that loads.
    callbacks.navigationFailed = [](const std::string& uri, const std::string& reason) {
        static const SystemLogger log("app.pelko.webview", "navigation");
        constexpr std::size_t shown = 512;  // the page chooses the address
        log.notice("The page did not load " + CutText::shortened(uri, shown) + " (" +
                   CutText::shortened(reason, shown) + "); events wait for the next page that loads");
    };
    callbacks.webProcessCrashed = [weak, indexFile] {
        if (auto self = weak.lock()) self->webProcessDidCrash(indexFile);
    };
    if (schemeHandler_) {
        callbacks.schemeRequest = [weak](const std::string& uri) {
            auto self = weak.lock();
            if (!self || !self->schemeHandler_) return AppBundleSchemeHandler::notFound();
            return self->schemeHandler_->respond(uri);
        };
    }
    callbacks.filesDropped = [weak](const std::vector<std::string>& paths) {
        auto self = weak.lock();
        if (!self) return;
        using namespace std::chrono;
        const double now = duration<double>(system_clock::now().time_since_epoch()).count();
        if (auto script = FileDrop::script(paths, now)) self->evaluateScript(*script);
    };
    callbacks.keyEquivalent = [weak](const KeyPress& press) {
        auto self = weak.lock();
        auto shortcut = ZoomShortcut::match(press);
        if (!self || !shortcut) return false;
        self->evaluateScript(shortcut->script());
        return true;
    };

    window_ = WorkspaceWindow::create(application, std::move(callbacks), {});
    loadPage(indexFile);
    update();
}

void WorkspaceWebView::webProcessDidCrash(const std::filesystem::path& indexFile) {
    static const SystemLogger log("app.pelko.webview", "process");
    if (!crashRecovery_.shouldReload(WebProcessCrashRecovery::Clock::now())) {
        log.error("The page's web content process ended; not reloading: it already reloaded " +
                  std::to_string(WebProcessCrashRecovery::maximumReloads) + " times within a minute");
        return;
    }
    log.error("The page's web content process ended; reloading the page");
    loadPage(indexFile);
}

void WorkspaceWebView::loadPage(const std::filesystem::path& indexFile) {
    if (indexFile.empty()) {
        window_->loadHtml(IndexPage::fallbackHtml(), "");
        return;
    }
    auto page = IndexPage::load(indexFile);
    window_->loadHtml(page.html, page.usesBaseAddress ? IndexPage::baseAddress : "");
}

void WorkspaceWebView::update() {
    if (!attached_) {
        attached_ = true;
        bridge_->attachWebView(shared_from_this());
        if (gestureBridge_) gestureBridge_->attach(window_);
    }
    window_->focusWebViewSoon();
}

void WorkspaceWebView::evaluateScript(const std::string& script) {
    window_->evaluateScript(script);
}

void WorkspaceWebView::evaluateScriptAndNotify(const std::string& script, std::function<void()> onEvaluated) {
    window_->evaluateScript(script, std::move(onEvaluated));
}

std::optional<Json> WorkspaceWebView::parseMessageBody(std::string_view bodyJson) {
    if (auto body = json::parse(bodyJson)) return body;
    return json::parse(replacingLoneSurrogates(bodyJson));
}

void WorkspaceWebView::didReceiveScriptMessage(const std::string& bodyJson) {
    auto body = parseMessageBody(bodyJson);
    if (!body) return;
    if (auto line = WebViewLogger::lineForMessage(*body)) {
        logger_.log(*line);
        return;
    }
    bridge_->handle(*body);
}

}  // namespace pelko
