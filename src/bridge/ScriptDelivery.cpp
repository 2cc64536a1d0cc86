#include "bridge/ScriptDelivery.hpp"

namespace pelko {

void ScriptDelivery::attach(const std::shared_ptr<ScriptEvaluating>& webView) {
    if (hasWebView_ && webView_.lock() == webView) return;
    webView_ = webView;
    hasWebView_ = true;
    isReady_ = false;
}

void ScriptDelivery::navigationStarted() {
    isReady_ = false;
}

std::size_t ScriptDelivery::navigationFinished() {
    isReady_ = true;
    std::size_t held = pendingScripts_.size();
    auto webView = webView_.lock();
    if (!webView) return held;
    std::vector<std::string> scripts;
    scripts.swap(pendingScripts_);
    for (const auto& script : scripts) webView->evaluateScript(script);
    return held;
}

bool ScriptDelivery::isReady() const {
    return isReady_;
}

void ScriptDelivery::deliver(std::string script) {
    auto webView = webView_.lock();
    if (webView && isReady_) {
        webView->evaluateScript(script);
        return;
    }
    pendingScripts_.push_back(std::move(script));
}

}  // namespace pelko
