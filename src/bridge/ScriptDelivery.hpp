#pragma once
// ScriptDelivery: ordered delivery of event scripts to the web view. While no web view is attached
// or the page is loading, scripts are held in order, without limit, and run in that order when a
// navigation finishes. Main thread only. Holds the web view weakly. A script delivered with
// `onEvaluated` reports once when the page has run it (or when this delivery goes away still holding
// it), so a producer can pace itself by the page. A reserved place holds every later script behind it
// until it is filled or released, so scripts made elsewhere (off the main thread) keep the order of
// their request.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/ScriptEvaluating.hpp"

namespace pelko {

class ScriptDelivery {
  public:
    // The longest script made for the web view, with room to spare: WebKit takes at most 2^31 - 1
    // bytes of script, whatever its characters, and aborts the whole process on a longer one. The
    // bridge's events are encoded within it (BridgeContext::dispatchEvent); terminal output and the
    // keyring's events are bounded far below it.
    static constexpr std::size_t maxScriptBytes = std::size_t{1920} << 20;

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
    // A place in the order for scripts still being made; `fill` puts them there and lets the scripts
    // held behind it go on. `release` gives the place up, letting them go on without it; scripts
    // filled into a released place are delivered as if sent then.
    using Place = std::uint64_t;
    Place reserve();
    void fill(Place place, std::vector<std::string> scripts);
    void release(Place place);

  private:
    struct Held {
        std::string script;
        std::function<void()> onEvaluated;  // may be empty
        Place place = 0;                    // a reserved place not yet filled, else 0
    };
    static void evaluate(ScriptEvaluating& webView, Held held);
    void flush();

    std::weak_ptr<ScriptEvaluating> webView_;
    bool hasWebView_ = false;
    bool isReady_ = false;
    std::deque<Held> pendingScripts_;
    Place lastPlace_ = 0;
};

}  // namespace pelko
