#pragma once
// RefreshScheduler: one repeating timer. `scheduleRepeating` replaces any running timer; the first
// firing comes one interval after the call, never at once. `cancel` stops the timer; a firing already
// running finishes, none starts afterwards.
#include <chrono>
#include <functional>

namespace pelko {

class RefreshScheduler {
  public:
    virtual ~RefreshScheduler() = default;
    virtual void scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> handler) = 0;
    virtual void cancel() = 0;
};

}  // namespace pelko
