#include <glib.h>
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

// A flood of queued work must not hold off drawing: a source at GTK's redraw priority
// (G_PRIORITY_HIGH_IDLE + 20) keeps firing while the queue still holds most of the flood.
TEST(MainQueueTest, ARedrawPrioritySourceFiresWhileTheQueueIsFlooded) {
    constexpr int flood = 200000;
    std::atomic<int> ran = 0;
    std::thread producer([&] {
        for (int i = 0; i < flood; ++i) {
            MainQueue::shared().async([&ran] {
                volatile int spin = 0;
                for (int j = 0; j < 200; ++j) spin = spin + j;
                ++ran;
            });
        }
    });
    producer.join();
    struct Frames {
        std::atomic<int>* ran;
        std::vector<int> ranAtFrame;
    } frames{&ran, {}};
    const guint redraw = g_timeout_add_full(
        G_PRIORITY_HIGH_IDLE + 20, 2,
        [](gpointer data) -> gboolean {
            auto* f = static_cast<Frames*>(data);
            f->ranAtFrame.push_back(f->ran->load());
            return G_SOURCE_CONTINUE;
        },
        &frames, nullptr);
    EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return ran == flood; }, 120s));
    g_source_remove(redraw);
    int duringFlood = 0;
    for (int count : frames.ranAtFrame) duringFlood += count < flood / 2 ? 1 : 0;
    EXPECT_GE(duringFlood, 3) << "frames: " << frames.ranAtFrame.size();
}

TEST(MainQueueDeathTest, MainThreadOnlyEntryPointsStopWhenCalledFromAnotherThread) {
#ifdef NDEBUG
    GTEST_SKIP() << "checked in debug builds only";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([] { MainQueue::shared().drain(); }).join(), "main-thread only");
}

}  // namespace
}  // namespace pelko
