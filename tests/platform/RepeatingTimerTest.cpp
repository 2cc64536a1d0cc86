#include <gtest/gtest.h>

#include <future>

#include "platform/MainQueue.hpp"
#include "platform/RepeatingTimer.hpp"
#include "platform/SerialQueue.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

TEST(RepeatingTimerTest, TicksOnMainUntilCancelled) {
    RepeatingTimer timer;
    int ticks = 0;
    bool onMain = true;
    timer.start(5ms, [&] {
        onMain = onMain && MainQueue::isMainThread();
        ++ticks;
    });
    EXPECT_TRUE(timer.isRunning());
    EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return ticks >= 3; }));
    timer.cancel();
    EXPECT_FALSE(timer.isRunning());
    int atCancel = ticks;
    MainQueue::shared().drainUntil([] { return false; }, 40ms);  // several intervals with the loop running
    EXPECT_EQ(ticks, atCancel);
    EXPECT_TRUE(onMain);
}

TEST(RepeatingTimerTest, RestartReplacesTheHandlerAndDestructionStops) {
    int first = 0;
    int second = 0;
    {
        RepeatingTimer timer;
        timer.start(5ms, [&] { ++first; });
        timer.start(5ms, [&] { ++second; });
        EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return second >= 2; }));
    }
    int atDestruction = second;
    MainQueue::shared().drainUntil([] { return false; }, 40ms);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, atDestruction);
}

TEST(RepeatingTimerTest, TicksOnItsQueueAndStopsWhenCancelledFromAHandler) {
    auto queue = std::make_shared<SerialQueue>("timer-queue");
    RepeatingTimer timer(queue);
    int ticks = 0;
    bool onQueue = true;
    std::promise<void> third;
    timer.start(2ms, [&] {
        onQueue = onQueue && queue->isCurrent();
        if (++ticks == 3) {
            timer.cancel();
            third.set_value();
        }
    });
    ASSERT_EQ(third.get_future().wait_for(60s), std::future_status::ready);
    // Any tick still scheduled would be due long before this marker runs.
    std::promise<void> marker;
    queue->asyncAfter(30ms, [&] { marker.set_value(); });
    ASSERT_EQ(marker.get_future().wait_for(60s), std::future_status::ready);
    queue->sync([&] {
        EXPECT_EQ(ticks, 3);
        EXPECT_TRUE(onQueue);
    });
    EXPECT_FALSE(timer.isRunning());
}

TEST(RepeatingTimerTest, SlowHandlerDelaysTheNextTickInsteadOfOverlapping) {
    auto queue = std::make_shared<SerialQueue>("timer-slow");
    RepeatingTimer timer(queue);
    std::vector<std::chrono::steady_clock::time_point> starts;
    std::promise<void> done;
    timer.start(2ms, [&] {
        starts.push_back(std::chrono::steady_clock::now());
        if (starts.size() == 3) {
            timer.cancel();
            done.set_value();
            return;
        }
        // A handler slower than the interval: the next tick is still an interval after it returns.
        auto until = std::chrono::steady_clock::now() + 10ms;
        while (std::chrono::steady_clock::now() < until) {
        }
    });
    ASSERT_EQ(done.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_GE(starts[1] - starts[0], 12ms);
    EXPECT_GE(starts[2] - starts[1], 12ms);
}

}  // namespace
}  // namespace pelko
