#pragma once
// WebProcessCrashRecovery: decides whether the page is loaded again after its web content process
// crashed. At most `maximumReloads` reloads within any `window` of time, so a page that crashes while
// loading does not spin for ever; past that the window stays as it is until the budget frees up.
//
// Plain value; main thread only. Times come from the caller, so tests need no clock.
#include <chrono>
#include <cstddef>
#include <deque>

namespace pelko {

class WebProcessCrashRecovery {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t maximumReloads = 3;
    static constexpr std::chrono::seconds window{60};

    // True when a reload at `now` fits the budget; the reload is then counted.
    bool shouldReload(Clock::time_point now);

  private:
    std::deque<Clock::time_point> reloads_;
};

}  // namespace pelko
