#include "platform/SerialQueue.hpp"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/BlockingCall.hpp"
#include "platform/ThreadName.hpp"

namespace pelko {

struct WorkItem::State {
    std::atomic<bool> cancelled{false};
};

void WorkItem::cancel() {
    if (state_) state_->cancelled = true;
}

bool WorkItem::isCancelled() const {
    return state_ && state_->cancelled;
}

struct SerialQueue::Impl {
    using Clock = std::chrono::steady_clock;
    struct Delayed {
        std::shared_ptr<WorkItem::State> item;
        std::function<void()> work;
    };

    std::string label;
    std::thread::id threadId;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> ready;
    std::multimap<Clock::time_point, Delayed> delayed;  // equal due times keep their enqueue order
    bool stopping = false;

    // Moves delayed work that is due to the end of the ready queue. Caller holds `mutex`.
    void promoteDue() {
        auto now = Clock::now();
        while (!delayed.empty() && delayed.begin()->first <= now) {
            auto delayedWork = std::move(delayed.begin()->second);
            delayed.erase(delayed.begin());
            ready.push_back([item = std::move(delayedWork.item), work = std::move(delayedWork.work)] {
                if (!item->cancelled) work();
            });
        }
    }

    static void run(const std::shared_ptr<Impl>& self) {
        nameCurrentThread(self->label);
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->promoteDue();
            if (!self->ready.empty()) {
                auto work = std::move(self->ready.front());
                self->ready.pop_front();
                lock.unlock();
                work();
                work =
                    nullptr;  // captures die here, outside the lock; they may hold the last queue reference
                lock.lock();
                continue;
            }
            if (self->stopping) return;
            if (self->delayed.empty()) {
                self->wake.wait(lock);
            } else {
                self->wake.wait_until(lock, self->delayed.begin()->first);
            }
        }
    }
};

SerialQueue::SerialQueue(std::string label) : impl_(std::make_shared<Impl>()) {
    impl_->label = std::move(label);
    impl_->thread = std::thread([self = impl_] { Impl::run(self); });
    impl_->threadId = impl_->thread.get_id();
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_one();
    if (isCurrent()) {
        impl_->thread.detach();  // the worker finishes the queued work and ends on its own
    } else {
        impl_->thread.join();
    }
}

const std::string& SerialQueue::label() const {
    return impl_->label;
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == impl_->threadId;
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->ready.push_back(std::move(work));
    }
    impl_->wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    runAndWait([this](std::function<void()> wrapped) { async(std::move(wrapped)); }, work);
}

WorkItem SerialQueue::asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    WorkItem item;
    item.state_ = std::make_shared<WorkItem::State>();
    {
        std::lock_guard lock(impl_->mutex);
        impl_->delayed.emplace(Impl::Clock::now() + delay, Impl::Delayed{item.state_, std::move(work)});
    }
    impl_->wake.notify_one();
    return item;
}

void SerialQueue::barrier() {
    sync([] {});
}

}  // namespace pelko
