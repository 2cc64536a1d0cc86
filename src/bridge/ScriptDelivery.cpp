#include "bridge/ScriptDelivery.hpp"

namespace pelko {

ScriptDelivery::~ScriptDelivery() {
    for (auto& held : pendingScripts_) {
        if (held.onEvaluated) held.onEvaluated();
    }
}

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
    std::vector<Held> scripts;
    scripts.swap(pendingScripts_);
    for (auto& script : scripts) evaluate(*webView, std::move(script));
    return held;
}

bool ScriptDelivery::isReady() const {
    return isReady_;
}

void ScriptDelivery::deliver(std::string script) {
    deliver(std::move(script), nullptr);
}

void ScriptDelivery::deliver(std::string script, std::function<void()> onEvaluated) {
    auto webView = webView_.lock();
    if (webView && isReady_) {
        evaluate(*webView, {std::move(script), std::move(onEvaluated)});
        return;
    }
    pendingScripts_.push_back({std::move(script), std::move(onEvaluated)});
}

void ScriptDelivery::evaluate(ScriptEvaluating& webView, Held held) {
    if (held.onEvaluated) {
        webView.evaluateScriptAndNotify(held.script, std::move(held.onEvaluated));
    } else {
        webView.evaluateScript(held.script);
    }
}

}  // namespace pelko
