#include "platform/ConcurrentQueue.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/ThreadName.hpp"

namespace pelko {

struct ConcurrentQueue::Impl {
    std::string label;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable wake;      // workers: work arrived or stopping
    std::condition_variable finished;  // barriers: some work finished
    std::deque<std::pair<std::uint64_t, std::function<void()>>> ready;
    std::set<std::uint64_t> unfinished;  // sequence numbers queued or running
    std::uint64_t nextSequence = 0;
    bool stopping = false;

    static void run(const std::shared_ptr<Impl>& self) {
        nameCurrentThread(self->label);
        std::unique_lock lock(self->mutex);
        for (;;) {
            self->wake.wait(lock, [&] { return self->stopping || !self->ready.empty(); });
            if (self->ready.empty()) return;
            auto [sequence, work] = std::move(self->ready.front());
            self->ready.pop_front();
            lock.unlock();
            work();
            work = nullptr;  // captures may hold the last pool reference
            lock.lock();
            self->unfinished.erase(sequence);
            self->finished.notify_all();
        }
    }
};

ConcurrentQueue::ConcurrentQueue(std::string label, unsigned width) : impl_(std::make_shared<Impl>()) {
    impl_->label = std::move(label);
    for (unsigned i = 0; i < std::max(width, 1u); ++i) {
        impl_->threads.emplace_back([self = impl_] { Impl::run(self); });
    }
}

ConcurrentQueue::~ConcurrentQueue() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    auto self = std::this_thread::get_id();
    bool onPoolThread = std::any_of(impl_->threads.begin(), impl_->threads.end(),
                                    [&](const std::thread& thread) { return thread.get_id() == self; });
    for (auto& thread : impl_->threads) {
        // Never join a pool thread from inside the pool; the workers finish the queue on their own.
        if (onPoolThread) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

const std::string& ConcurrentQueue::label() const {
    return impl_->label;
}

void ConcurrentQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(impl_->mutex);
        auto sequence = impl_->nextSequence++;
        impl_->unfinished.insert(sequence);
        impl_->ready.emplace_back(sequence, std::move(work));
    }
    impl_->wake.notify_one();
}

void ConcurrentQueue::barrier() {
    std::unique_lock lock(impl_->mutex);
    auto target = impl_->nextSequence;
    impl_->finished.wait(lock,
                         [&] { return impl_->unfinished.empty() || *impl_->unfinished.begin() >= target; });
}

}  // namespace pelko
