#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/SequencedWorkerPool.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

// Waits for a condition another thread makes true; false when it has not held within a generous bound.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A gate a closure waits at until the test opens it.
struct Gate {
    std::promise<void> opened;
    std::shared_future<void> wait = opened.get_future().share();
    void open() { opened.set_value(); }
};

TEST(SequencedWorkerPoolTest, EachSequenceKeepsItsOrderAndABlockedOneHoldsUpNoOther) {
    SequencedWorkerPool pool({.label = "pool-order"});
    Gate gate;
    std::promise<void> blockedStarted;
    ASSERT_FALSE(pool.post("blocked", [&] {
        blockedStarted.set_value();
        gate.wait.wait();
    }));
    std::mutex mutex;
    std::vector<int> blockedOrder;
    for (int i = 0; i < 100; ++i) {
        ASSERT_FALSE(pool.post("blocked", [&, i] {
            std::lock_guard lock(mutex);
            blockedOrder.push_back(i);
        }));
    }
    blockedStarted.get_future().wait();

    std::vector<int> freeOrder;
    std::promise<void> freeDone;
    for (int i = 0; i < 500; ++i) {
        ASSERT_FALSE(pool.post("free", [&, i] {
            freeOrder.push_back(i);  // one sequence at a time: no lock needed
            if (i == 499) freeDone.set_value();
        }));
    }
    ASSERT_EQ(freeDone.get_future().wait_for(60s), std::future_status::ready);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(freeOrder[i], i);
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(blockedOrder.empty());
    }
    EXPECT_LE(pool.threadCount(), 2u + 2u);  // two sequences at most at once, and the kept idle ones

    gate.open();
    ASSERT_TRUE(eventually([&] { return pool.sequenceCount() == 0; }));
    std::lock_guard lock(mutex);
    ASSERT_EQ(blockedOrder.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(blockedOrder[i], i);
}

TEST(SequencedWorkerPoolTest, SequencesWithoutWorkHaveNoEntryAndIdleWorkersBeyondTheKeptOnesEnd) {
    SequencedWorkerPool pool({.label = "pool-idle", .keptIdle = 1, .idleLimit = 20ms});
    // Five sequences at once, each held until all have started: five workers.
    Gate gate;
    std::atomic<int> started = 0;
    for (int i = 0; i < 5; ++i) {
        ASSERT_FALSE(pool.post("s" + std::to_string(i), [&] {
            ++started;
            gate.wait.wait();
        }));
    }
    ASSERT_TRUE(eventually([&] { return started == 5; }));
    EXPECT_EQ(pool.threadCount(), 5u);
    EXPECT_EQ(pool.sequenceCount(), 5u);
    gate.open();
    ASSERT_TRUE(eventually([&] { return pool.sequenceCount() == 0; }));
    ASSERT_TRUE(eventually([&] { return pool.threadCount() == 1; }));
    // The kept worker takes the next sequence; no thread is started for it.
    std::promise<void> ran;
    ASSERT_FALSE(pool.post("again", [&] { ran.set_value(); }));
    ASSERT_EQ(ran.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_EQ(pool.threadCount(), 1u);
}

TEST(SequencedWorkerPoolTest, AWorkerThatCannotStartKeepsNothingAndARunningSequenceNeedsNone) {
    enum class Refusal { none, noThread, noMemory };
    std::atomic<Refusal> refuse = Refusal::none;
    std::atomic<int> startedThreads = 0;
    SequencedWorkerPool pool({.label = "pool-refuse",
                              .keptIdle = 0,
                              .idleLimit = 10ms,
                              .startThread = [&](std::function<void()> body) {
                                  if (refuse == Refusal::noThread)
                                      throw std::system_error(EAGAIN, std::generic_category());
                                  if (refuse == Refusal::noMemory) throw std::bad_alloc();
                                  ++startedThreads;
                                  return std::thread(std::move(body));
                              }});
    Gate gate;
    ASSERT_FALSE(pool.post("running", [&] { gate.wait.wait(); }));
    // Whatever the failure, the request is refused with its reason and leaves no entry behind.
    for (auto [failure, expected] : {std::pair{Refusal::noThread, std::errc::resource_unavailable_try_again},
                                     std::pair{Refusal::noMemory, std::errc::not_enough_memory}}) {
        refuse = failure;
        auto kept = std::make_shared<int>(0);
        auto code = pool.post("new", [kept] {});
        EXPECT_EQ(code, expected);
        EXPECT_EQ(kept.use_count(), 1) << "the refused closure was not kept";
        EXPECT_EQ(pool.sequenceCount(), 1u);
        EXPECT_EQ(pool.threadCount(), 1u);
    }
    // A sequence that is running takes more work without a thread.
    std::promise<void> ran;
    EXPECT_FALSE(pool.post("running", [&] { ran.set_value(); }));
    gate.open();
    ASSERT_EQ(ran.get_future().wait_for(60s), std::future_status::ready);
    ASSERT_TRUE(eventually([&] { return pool.sequenceCount() == 0 && pool.threadCount() == 0; }));
    refuse = Refusal::none;
    std::promise<void> later;
    EXPECT_FALSE(pool.post("new", [&] { later.set_value(); }));
    EXPECT_EQ(later.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_EQ(startedThreads, 2);
}

TEST(SequencedWorkerPoolTest, ShutdownDropsWorkNotStartedWaitsForRunningWorkAndRefusesMore) {
    SequencedWorkerPool pool({.label = "pool-end"});
    Gate gate;
    std::promise<void> started;
    std::atomic<bool> finished = false;
    ASSERT_FALSE(pool.post("a", [&] {
        started.set_value();
        gate.wait.wait();
        finished = true;
    }));
    auto dropped = std::make_shared<int>(0);
    std::atomic<bool> droppedRan = false;
    ASSERT_FALSE(pool.post("a", [&, dropped] { droppedRan = true; }));
    started.get_future().wait();
    auto ended = std::async(std::launch::async, [&] { pool.shutdown(); });
    ASSERT_TRUE(eventually([&] { return dropped.use_count() == 1; })) << "queued work is dropped at once";
    EXPECT_EQ(ended.wait_for(0s), std::future_status::timeout) << "running work is waited for";
    gate.open();
    ended.get();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(droppedRan);
    EXPECT_EQ(pool.threadCount(), 0u);
    EXPECT_EQ(pool.post("a", [] {}), std::errc::operation_canceled);
}

TEST(SequencedWorkerPoolTest, APoolEndedFromItsOwnWorkerLetsThatWorkerEndByItself) {
    auto pool = std::make_shared<SequencedWorkerPool>(SequencedWorkerPool::Options{.label = "pool-self"});
    std::promise<void> done;
    std::weak_ptr<SequencedWorkerPool> weak = pool;
    ASSERT_FALSE(pool->post("a", [&, owner = pool]() mutable {
        owner.reset();  // the last reference, released on the pool's own worker
        done.set_value();
    }));
    pool.reset();
    ASSERT_EQ(done.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));
}

}  // namespace
}  // namespace pelko
