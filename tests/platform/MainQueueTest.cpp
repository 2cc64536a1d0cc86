#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
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
// The flood lasts until the redraw source has fired often enough while work was queued (or a
// generous deadline passes), so the test holds however fast the closures run.
TEST(MainQueueTest, ARedrawPrioritySourceFiresWhileTheQueueIsFlooded) {
    constexpr int floodWidth = 1000;
    constexpr int framesWanted = 5;
    struct Flood {
        int queued = 0;
        int framesWhileQueued = 0;
        std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + 60s;
        bool over() const {
            return framesWhileQueued >= framesWanted || std::chrono::steady_clock::now() > deadline;
        }
    } flood;
    std::function<void()> task = [&] {
        volatile int spin = 0;
        for (int j = 0; j < 200; ++j) spin = spin + j;
        if (flood.over()) {
            --flood.queued;
        } else {
            MainQueue::shared().async(task);
        }
    };
    for (int i = 0; i < floodWidth; ++i) MainQueue::shared().async(task);
    flood.queued = floodWidth;
    const guint redraw = g_timeout_add_full(
        G_PRIORITY_HIGH_IDLE + 20, 2,
        [](gpointer data) -> gboolean {
            auto* f = static_cast<Flood*>(data);
            if (f->queued > 0) ++f->framesWhileQueued;
            return G_SOURCE_CONTINUE;
        },
        &flood, nullptr);
    // Longer than the flood's deadline, so no closure outlives `flood` and `task`.
    const bool drained = MainQueue::shared().drainUntil([&] { return flood.queued == 0; }, 180s);
    g_source_remove(redraw);
    ASSERT_TRUE(drained);
    EXPECT_GE(flood.framesWhileQueued, framesWanted);
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
