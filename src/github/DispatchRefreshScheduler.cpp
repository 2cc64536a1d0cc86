#include "github/DispatchRefreshScheduler.hpp"

#include <atomic>

namespace pelko {

struct DispatchRefreshScheduler::Timer {
    std::chrono::milliseconds interval;
    std::function<void()> handler;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    WorkItem pending;
    std::weak_ptr<SerialQueue> queue;

    void cancel() {
        cancelled = true;
        std::lock_guard lock(mutex);
        pending.cancel();
    }

    static void arm(const std::shared_ptr<Timer>& timer) {
        auto target = timer->queue.lock();
        if (!target) return;
        std::lock_guard lock(timer->mutex);
        if (timer->cancelled) return;
        // Firings hold the timer weakly: a cancelled or replaced timer is freed and never fires again.
        timer->pending = target->asyncAfter(timer->interval, [weak = std::weak_ptr<Timer>(timer)] {
            auto fired = weak.lock();
            if (!fired || fired->cancelled) return;
            arm(fired);
            fired->handler();
        });
    }
};

DispatchRefreshScheduler::DispatchRefreshScheduler(std::shared_ptr<SerialQueue> queue)
    : queue_(std::move(queue)) {}

DispatchRefreshScheduler::~DispatchRefreshScheduler() {
    cancel();
}

void DispatchRefreshScheduler::scheduleRepeating(std::chrono::milliseconds interval,
                                                 std::function<void()> handler) {
    auto timer = std::make_shared<Timer>();
    timer->interval = interval;
    timer->handler = std::move(handler);
    timer->queue = queue_;
    {
        std::lock_guard lock(mutex_);
        if (timer_) timer_->cancel();
        timer_ = timer;
    }
    Timer::arm(timer);
}

void DispatchRefreshScheduler::cancel() {
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard lock(mutex_);
        timer.swap(timer_);
    }
    if (timer) timer->cancel();
}

}  // namespace pelko
