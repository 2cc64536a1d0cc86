#pragma once
// DispatchRefreshScheduler: RefreshScheduler on a SerialQueue (the application's is
// "app.pelko.oauth-refresh"). The handler runs on that queue, one firing at a time; the next firing is
// planned when one starts, so a handler that blocks longer than an interval merges the firings that
// fell due meanwhile. Callable from any thread.
#include <memory>
#include <mutex>

#include "github/RefreshScheduler.hpp"
#include "platform/SerialQueue.hpp"

namespace pelko {

class DispatchRefreshScheduler final : public RefreshScheduler {
  public:
    explicit DispatchRefreshScheduler(std::shared_ptr<SerialQueue> queue);
    ~DispatchRefreshScheduler() override;

    void scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> handler) override;
    void cancel() override;

  private:
    struct Timer;

    std::shared_ptr<SerialQueue> queue_;
    std::mutex mutex_;
    std::shared_ptr<Timer> timer_;
};

}  // namespace pelko
