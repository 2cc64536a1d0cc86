#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/MainQueue.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

TEST(MainQueueTest, AsyncFromOtherThreadsRunsOnMainInOrder) {
    ASSERT_TRUE(MainQueue::isMainThread());
    constexpr int threads = 4;
    constexpr int perThread = 200;
    std::vector<std::vector<int>> seen(threads);
    int total = 0;
    bool allOnMain = true;
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
        producers.emplace_back([&, t] {
            EXPECT_FALSE(MainQueue::isMainThread());
            for (int i = 0; i < perThread; ++i) {
                MainQueue::shared().async([&, t, i] {
                    allOnMain = allOnMain && MainQueue::isMainThread();
                    seen[t].push_back(i);
                    ++total;
                });
            }
        });
    }
    for (auto& producer : producers) producer.join();
    EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return total == threads * perThread; }));
    EXPECT_TRUE(allOnMain);
    for (const auto& values : seen) {
        ASSERT_EQ(values.size(), static_cast<std::size_t>(perThread));
        for (int i = 0; i < perThread; ++i) EXPECT_EQ(values[i], i);
    }
}

TEST(MainQueueTest, SyncRunsInlineOnMainAndWaitsFromElsewhere) {
    std::vector<int> order;
    MainQueue::shared().async([&] { order.push_back(2); });
    MainQueue::shared().sync([&] { order.push_back(1); });  // inline: ahead of the queued closure
    EXPECT_EQ(order, (std::vector<int>{1}));

    std::atomic<bool> returned = false;
    bool ranOnMain = false;
    std::thread worker([&] {
        MainQueue::shared().sync([&] {
            ranOnMain = MainQueue::isMainThread();
            order.push_back(3);
        });
        returned = true;
    });
    EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MainQueueTest, DrainRunsQueuedWorkAndWhatItQueues) {
    std::vector<int> order;
    MainQueue::shared().async([&] {
        order.push_back(1);
        MainQueue::shared().async([&] { order.push_back(3); });
    });
    MainQueue::shared().async([&] { order.push_back(2); });
    MainQueue::shared().drain();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MainQueueTest, DrainUntilSeesAFlagSetFromAnotherThreadAndTimesOut) {
    std::atomic<bool> flag = false;
    std::thread setter([&] { flag = true; });
    EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return flag.load(); }));
    setter.join();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MainQueue::shared().drainUntil([] { return false; }, 30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

}  // namespace
}  // namespace pelko
