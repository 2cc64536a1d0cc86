#pragma once
// ScriptDelivery: ordered delivery of event scripts to the web view. While no web view is attached
// or the page is loading, scripts are held in order, without limit, and run in that order when a
// navigation finishes. Main thread only. Holds the web view weakly. A script delivered with
// `onEvaluated` reports once when the page has run it (or when this delivery goes away still holding
// it), so a producer can pace itself by the page.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/ScriptEvaluating.hpp"

namespace pelko {

class ScriptDelivery {
  public:
    ScriptDelivery() = default;
    ~ScriptDelivery();
    ScriptDelivery(const ScriptDelivery&) = delete;
    ScriptDelivery& operator=(const ScriptDelivery&) = delete;

    // A web view other than the current one (or the first) is not ready until its navigation ends.
    void attach(const std::shared_ptr<ScriptEvaluating>& webView);
    void navigationStarted();
    // Ready; runs the held scripts in order and says how many there were.
    std::size_t navigationFinished();
    bool isReady() const;
    // Runs the script now when ready, else holds it.
    void deliver(std::string script);
    void deliver(std::string script, std::function<void()> onEvaluated);

  private:
    struct Held {
        std::string script;
        std::function<void()> onEvaluated;  // may be empty
    };
    static void evaluate(ScriptEvaluating& webView, Held held);

    std::weak_ptr<ScriptEvaluating> webView_;
    bool hasWebView_ = false;
    bool isReady_ = false;
    std::vector<Held> pendingScripts_;
};

}  // namespace pelko
