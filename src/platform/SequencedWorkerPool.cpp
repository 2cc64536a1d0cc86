#include "platform/SequencedWorkerPool.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/ThreadName.hpp"

namespace pelko {

struct SequencedWorkerPool::Impl {
    struct Worker {
        std::thread thread;
        std::condition_variable wake;
        // The sequence it runs; none while idle.
        std::optional<std::string> assigned;
        bool done = false;
    };

    Options options;
    mutable std::mutex mutex;
    // Present exactly while a worker is assigned to the sequence.
    std::map<std::string, std::deque<std::function<void()>>> sequences;
    std::list<Worker> workers;
    std::vector<Worker*> idle;
    bool stopping = false;

    static void run(const std::shared_ptr<Impl>& self, Worker* worker) {
        nameCurrentThread(self->options.label);
        std::unique_lock lock(self->mutex);
        for (;;) {
            if (worker->assigned) {
                auto sequence = self->sequences.find(*worker->assigned);
                if (sequence == self->sequences.end() || sequence->second.empty()) {
                    if (sequence != self->sequences.end()) self->sequences.erase(sequence);
                    worker->assigned.reset();
                    continue;
                }
                auto work = std::move(sequence->second.front());
                sequence->second.pop_front();
                lock.unlock();
                work();
                work = nullptr;  // captures die outside the lock; they may end the pool itself
                lock.lock();
                continue;
            }
            if (self->stopping) break;
            self->idle.push_back(worker);
            const auto deadline = std::chrono::steady_clock::now() + self->options.idleLimit;
            const bool woken = worker->wake.wait_until(
                lock, deadline, [&] { return worker->assigned.has_value() || self->stopping; });
            if (worker->assigned) continue;  // the poster took it off the idle list
            std::erase(self->idle, worker);
            if (self->stopping) break;
            if (!woken && self->idle.size() >= self->options.keptIdle) break;
        }
        worker->done = true;
    }

    // Joins workers that ended on their own (they only return once marked done). Caller holds `mutex`.
    void reap() {
        const auto self = std::this_thread::get_id();
        for (auto worker = workers.begin(); worker != workers.end();) {
            if (worker->done && worker->thread.get_id() != self) {
                if (worker->thread.joinable()) worker->thread.join();
                worker = workers.erase(worker);
            } else {
                ++worker;
            }
        }
    }
};

SequencedWorkerPool::SequencedWorkerPool(Options options) : impl_(std::make_shared<Impl>()) {
    if (!options.startThread) {
        options.startThread = [](std::function<void()> body) { return std::thread(std::move(body)); };
    }
    impl_->options = std::move(options);
}

SequencedWorkerPool::~SequencedWorkerPool() {
    shutdown();
}

namespace {

// What a failure to keep work or to start its worker is reported as.
std::error_code refusal(std::exception_ptr failure) {
    try {
        std::rethrow_exception(std::move(failure));
    } catch (const std::system_error& error) {
        return error.code();
    } catch (const std::bad_alloc&) {
        return std::make_error_code(std::errc::not_enough_memory);
    } catch (...) {
        return std::make_error_code(std::errc::resource_unavailable_try_again);
    }
}

}  // namespace

std::error_code SequencedWorkerPool::post(const std::string& key, std::function<void()> work) {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopping) return std::make_error_code(std::errc::operation_canceled);
    auto sequence = impl_->sequences.find(key);
    if (sequence != impl_->sequences.end()) {
        try {
            sequence->second.push_back(std::move(work));  // on failure nothing changed, `work` included
        } catch (...) {
            return refusal(std::current_exception());
        }
        return {};
    }
    impl_->reap();
    Impl::Worker* worker = nullptr;
    try {
        sequence = impl_->sequences.try_emplace(key).first;
        sequence->second.push_back(std::move(work));
        if (!impl_->idle.empty()) {
            worker = impl_->idle.back();
            impl_->idle.pop_back();
        } else {
            worker = &impl_->workers.emplace_back();
            // The new thread waits for the lock held here, so it finds itself assigned.
            worker->thread = impl_->options.startThread([self = impl_, worker] { Impl::run(self, worker); });
        }
    } catch (...) {
        if (worker) impl_->workers.pop_back();  // only a worker that did not start is left to undo
        if (sequence != impl_->sequences.end()) {
            // Given back, so its captures die outside the lock, when `work` goes.
            if (!sequence->second.empty()) work = std::move(sequence->second.front());
            impl_->sequences.erase(sequence);
        }
        return refusal(std::current_exception());
    }
    worker->assigned = key;
    worker->wake.notify_one();
    return {};
}

void SequencedWorkerPool::shutdown() {
    std::vector<std::deque<std::function<void()>>> dropped;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        for (auto& [key, work] : impl_->sequences) dropped.push_back(std::exchange(work, {}));
        for (auto& worker : impl_->workers) worker.wake.notify_one();
    }
    dropped.clear();  // outside the lock: a closure's captures may post or end things
    const auto self = std::this_thread::get_id();
    for (;;) {
        std::thread thread;
        {
            std::lock_guard lock(impl_->mutex);
            for (auto& worker : impl_->workers) {
                if (worker.thread.joinable() && worker.thread.get_id() != self) {
                    thread = std::move(worker.thread);
                    break;
                }
            }
            if (!thread.joinable()) {
                // Ended from one of its own closures: that worker ends by itself.
                for (auto& worker : impl_->workers) {
                    if (worker.thread.joinable()) worker.thread.detach();
                }
                return;
            }
        }
        thread.join();
    }
}

std::size_t SequencedWorkerPool::sequenceCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->sequences.size();
}

std::size_t SequencedWorkerPool::threadCount() const {
    std::lock_guard lock(impl_->mutex);
    return static_cast<std::size_t>(std::count_if(impl_->workers.begin(), impl_->workers.end(),
                                                  [](const Impl::Worker& worker) { return !worker.done; }));
}

}  // namespace pelko
