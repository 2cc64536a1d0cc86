#pragma once
// DispatchRefreshScheduler: RefreshScheduler on a SerialQueue (the application's is
// "app.pelko.oauth-refresh"), over the platform's RepeatingTimer. The handler runs on that queue, one
// firing at a time; the next firing is planned when one ends, so a handler that blocks longer than an
// interval delays the next one instead of piling firings up. Callable from any thread.
#include <memory>

#include "github/RefreshScheduler.hpp"
#include "platform/RepeatingTimer.hpp"
#include "platform/SerialQueue.hpp"

namespace pelko {

class DispatchRefreshScheduler final : public RefreshScheduler {
  public:
    explicit DispatchRefreshScheduler(std::shared_ptr<SerialQueue> queue) : timer_(std::move(queue)) {}

    void scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> handler) override {
        timer_.start(interval, std::move(handler));
    }
    void cancel() override { timer_.cancel(); }

  private:
    RepeatingTimer timer_;
};

}  // namespace pelko
