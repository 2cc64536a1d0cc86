#pragma once
// ScriptDelivery: ordered delivery of event scripts to the web view. While no web view is attached
// or the page is loading, scripts are held in order, without limit, and run in that order when a
// navigation finishes. Main thread only. Holds the web view weakly.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "bridge/ScriptEvaluating.hpp"

namespace pelko {

class ScriptDelivery {
  public:
    // A web view other than the current one (or the first) is not ready until its navigation ends.
    void attach(const std::shared_ptr<ScriptEvaluating>& webView);
    void navigationStarted();
    // Ready; runs the held scripts in order and says how many there were.
    std::size_t navigationFinished();
    bool isReady() const;
    // Runs the script now when ready, else holds it.
    void deliver(std::string script);

  private:
    std::weak_ptr<ScriptEvaluating> webView_;
    bool hasWebView_ = false;
    bool isReady_ = false;
    std::vector<std::string> pendingScripts_;
};

}  // namespace pelko
