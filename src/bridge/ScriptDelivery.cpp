#include "bridge/ScriptDelivery.hpp"

#include <algorithm>

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
    flush();
    return held;
}

ScriptDelivery::Place ScriptDelivery::reserve() {
    pendingScripts_.push_back({{}, nullptr, ++lastPlace_});
    return lastPlace_;
}

void ScriptDelivery::fill(Place place, std::vector<std::string> scripts) {
    auto it = std::find_if(pendingScripts_.begin(), pendingScripts_.end(),
                           [place](const Held& held) { return held.place == place; });
    if (it == pendingScripts_.end()) {
        for (auto& script : scripts) deliver(std::move(script));
        return;
    }
    it = pendingScripts_.erase(it);
    for (auto& script : scripts) it = std::next(pendingScripts_.insert(it, {std::move(script), nullptr, 0}));
    flush();
}

void ScriptDelivery::release(Place place) {
    auto it = std::find_if(pendingScripts_.begin(), pendingScripts_.end(),
                           [place](const Held& held) { return held.place == place; });
    if (it == pendingScripts_.end()) return;
    pendingScripts_.erase(it);
    flush();
}

// Runs held scripts in order up to the first place not yet filled.
void ScriptDelivery::flush() {
    auto webView = webView_.lock();
    if (!webView || !isReady_) return;
    while (!pendingScripts_.empty() && pendingScripts_.front().place == 0) {
        Held held = std::move(pendingScripts_.front());
        pendingScripts_.pop_front();
        evaluate(*webView, std::move(held));
    }
}

bool ScriptDelivery::isReady() const {
    return isReady_;
}

void ScriptDelivery::deliver(std::string script) {
    deliver(std::move(script), nullptr);
}

void ScriptDelivery::deliver(std::string script, std::function<void()> onEvaluated) {
    auto webView = webView_.lock();
    if (webView && isReady_ && pendingScripts_.empty()) {
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
