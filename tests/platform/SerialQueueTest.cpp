#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <vector>

#include "platform/ConcurrentQueue.hpp"
#include "platform/SerialQueue.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsInFifoOrderOnItsOwnThread) {
    SerialQueue queue("serial-fifo");
    std::vector<int> order;
    bool allOnQueue = true;
    for (int i = 0; i < 500; ++i) {
        queue.async([&, i] {
            allOnQueue = allOnQueue && queue.isCurrent();
            order.push_back(i);
        });
    }
    queue.barrier();
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(allOnQueue);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueueTest, SyncFromItsOwnThreadRunsInline) {
    SerialQueue queue("serial-sync");
    std::vector<int> order;
    queue.sync([&] {
        order.push_back(1);
        queue.sync([&] { order.push_back(2); });
        queue.barrier();
        order.push_back(3);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    queue.sync([&] { order.push_back(4); });  // still serving after a failed closure
    EXPECT_EQ(order.size(), 4u);
}

TEST(SerialQueueTest, ThreadNameIsTheLabelsFirst15Characters) {
    SerialQueue queue("app.pelko.a-very-long-label");
    char name[32] = {};
    queue.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
    EXPECT_STREQ(name, "app.pelko.a-ver");
}

TEST(SerialQueueTest, DelayedWorkRunsByDueTimeAndCanBeCancelled) {
    SerialQueue queue("serial-after");
    std::vector<char> order;
    std::promise<void> done;
    auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration firstAfter{};
    WorkItem cancelled = queue.asyncAfter(20ms, [&] { order.push_back('x'); });
    queue.asyncAfter(60ms, [&] {
        order.push_back('b');
        done.set_value();
    });
    queue.asyncAfter(30ms, [&] {
        firstAfter = std::chrono::steady_clock::now() - start;
        order.push_back('a');
    });
    queue.async([&] { order.push_back('0'); });
    cancelled.cancel();
    EXPECT_TRUE(cancelled.isCancelled());
    ASSERT_EQ(done.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_EQ(order, (std::vector<char>{'0', 'a', 'b'}));
    EXPECT_GE(firstAfter, 30ms);
}

TEST(SerialQueueTest, BarrierDoesNotWaitForDelayedWorkNotYetDue) {
    SerialQueue queue("serial-barrier");
    bool late = false;
    int count = 0;
    queue.asyncAfter(1h, [&] { late = true; });
    for (int i = 0; i < 10; ++i) queue.async([&] { ++count; });
    queue.barrier();
    EXPECT_EQ(count, 10);
    EXPECT_FALSE(late);
}

TEST(SerialQueueTest, DestructorRunsQueuedWorkButNotUndueDelayedWork) {
    int count = 0;
    bool late = false;
    {
        SerialQueue queue("serial-dtor");
        queue.asyncAfter(1h, [&] { late = true; });
        for (int i = 0; i < 100; ++i) queue.async([&] { ++count; });
    }
    EXPECT_EQ(count, 100);
    EXPECT_FALSE(late);
}

TEST(SerialQueueTest, LastReferenceDroppedOnItsOwnThreadDoesNotDeadlock) {
    auto queue = std::make_shared<SerialQueue>("serial-self");
    std::promise<void> go;
    std::promise<void> done;
    auto goSignal = go.get_future().share();
    queue->async([goSignal, self = queue]() mutable {
        goSignal.wait();
        self.reset();  // the last reference: the queue is destroyed on its own thread
    });
    queue->async([&] { done.set_value(); });  // already enqueued work still runs afterwards
    queue.reset();
    go.set_value();
    EXPECT_EQ(done.get_future().wait_for(60s), std::future_status::ready);
}

TEST(ConcurrentQueueTest, RunsAtMostWidthAtOnceAndBarrierWaitsForAll) {
    ConcurrentQueue pool("pool", 3);
    std::mutex mutex;
    int running = 0;
    int mostRunning = 0;
    int finished = 0;
    std::condition_variable changed;
    for (int i = 0; i < 30; ++i) {
        pool.async([&] {
            std::unique_lock lock(mutex);
            mostRunning = std::max(mostRunning, ++running);
            changed.notify_all();
            // Holds until the pool is full (or the tail of the queue is reached), to provoke overlap.
            changed.wait_for(lock, 60s, [&] { return running == 3 || finished >= 27; });
            --running;
            ++finished;
            changed.notify_all();
        });
    }
    pool.barrier();
    EXPECT_EQ(finished, 30);
    EXPECT_EQ(mostRunning, 3);
}

TEST(ConcurrentQueueTest, SingleWidthStartsInFifoOrderAndDestructorFinishesWork) {
    std::vector<int> order;
    {
        ConcurrentQueue pool("pool-one", 1);
        for (int i = 0; i < 100; ++i) pool.async([&, i] { order.push_back(i); });
    }
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(ConcurrentQueueTest, LastReferenceDroppedOnAPoolThreadDoesNotDeadlock) {
    auto pool = std::make_shared<ConcurrentQueue>("pool-self", 2);
    std::promise<void> go;
    std::promise<void> done;
    auto goSignal = go.get_future().share();
    pool->async([goSignal, self = pool]() mutable {
        goSignal.wait();
        self.reset();
    });
    pool->async([goSignal, &done] {
        goSignal.wait();
        done.set_value();
    });
    pool.reset();
    go.set_value();
    EXPECT_EQ(done.get_future().wait_for(60s), std::future_status::ready);
}

}  // namespace
}  // namespace pelko
