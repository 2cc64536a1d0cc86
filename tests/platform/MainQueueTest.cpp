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

// Stands in for a window whose every frame takes the whole frame interval: a source at GTK's redraw
// priority (G_PRIORITY_HIGH_IDLE + 20) that is always ready and works 20 ms per dispatch, so the
// queue's quiet path never gets a turn.
class BusyDrawing {
  public:
    static constexpr auto frame = std::chrono::milliseconds(20);

    BusyDrawing() {
        static GSourceFuncs funcs = {[](GSource*, gint* timeout) -> gboolean {
                                         *timeout = 0;
                                         return TRUE;
                                     },
                                     [](GSource*) -> gboolean { return TRUE; },
                                     [](GSource* source, GSourceFunc, gpointer) -> gboolean {
                                         auto* self = reinterpret_cast<Source*>(source)->owner;
                                         const auto until = std::chrono::steady_clock::now() + frame;
                                         while (std::chrono::steady_clock::now() < until) {
                                         }
                                         ++self->turns;
                                         return G_SOURCE_CONTINUE;
                                     },
                                     nullptr,
                                     nullptr,
                                     nullptr};
        source_ = g_source_new(&funcs, sizeof(Source));
        reinterpret_cast<Source*>(source_)->owner = this;
        g_source_set_priority(source_, G_PRIORITY_HIGH_IDLE + 20);
        g_source_attach(source_, g_main_context_default());
    }
    ~BusyDrawing() {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    BusyDrawing(const BusyDrawing&) = delete;
    BusyDrawing& operator=(const BusyDrawing&) = delete;

    // Iterates the loop itself (no ticker of drainUntil's taking turns) until `done` holds.
    bool runUntil(const std::function<bool()>& done, std::chrono::seconds timeout = 60s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done() && std::chrono::steady_clock::now() < deadline)
            g_main_context_iteration(g_main_context_default(), TRUE);
        return done();
    }

    std::atomic<int> turns = 0;

  private:
    struct Source {
        GSource base;
        BusyDrawing* owner;
    };
    GSource* source_ = nullptr;
};

// The head of the queue runs within overdueAfter plus one busy dispatch (25 + 20 ms); 1 s is far
// above that, for loaded machines.
TEST(MainQueueTest, AClosureRunsSoonWhileDrawingKeepsTheLoopBusy) {
    BusyDrawing drawing;
    std::atomic<bool> ran = false;
    std::chrono::steady_clock::duration waited{};
    std::thread producer([&] {
        // Queued while the loop is drawing, not before it started.
        while (drawing.turns.load() < 2) std::this_thread::yield();
        const auto queuedAt = std::chrono::steady_clock::now();
        MainQueue::shared().async([&, queuedAt] {
            waited = std::chrono::steady_clock::now() - queuedAt;
            ran = true;
        });
    });
    const bool done = drawing.runUntil([&] { return ran.load(); });
    producer.join();
    ASSERT_TRUE(done);
    EXPECT_LT(waited, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(waited).count() << " ms";
    RecordProperty("waited_us",
                   std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(waited).count()));
}

// A thousand closures of a little work each (more than one time slice together) all run, in order,
// while the busy source keeps every other turn of the loop: between two turns of the queue it has one.
TEST(MainQueueTest, AFloodRunsWholeWhileDrawingKeepsHalfTheTurns) {
    constexpr int count = 1000;
    BusyDrawing drawing;
    std::vector<int> order;
    int queueTurns = 0;
    int lastDrawingTurn = -1;
    int drawingTurnsAtFirst = 0;
    std::thread producer([&] {
        while (drawing.turns.load() < 2) std::this_thread::yield();
        for (int i = 0; i < count; ++i) {
            MainQueue::shared().async([&, i] {
                const int drawn = drawing.turns.load();
                if (order.empty()) drawingTurnsAtFirst = drawn;
                if (drawn != lastDrawingTurn) ++queueTurns;  // a new turn of the queue
                lastDrawingTurn = drawn;
                order.push_back(i);
                const auto until = std::chrono::steady_clock::now() + 100us;
                while (std::chrono::steady_clock::now() < until) {
                }
            });
        }
    });
    const bool done = drawing.runUntil([&] { return order.size() == count; });
    producer.join();
    ASSERT_TRUE(done);
    for (int i = 0; i < count; ++i) ASSERT_EQ(order[i], i);
    // Busy turns from the queue's first turn to its last.
    const int drawingTurns = lastDrawingTurn - drawingTurnsAtFirst;
    EXPECT_GE(queueTurns, 2);  // 100 ms of work in 8 ms slices
    EXPECT_GE(drawingTurns, queueTurns - 1) << queueTurns << " queue turns";
    RecordProperty("queue_turns", queueTurns);
    RecordProperty("drawing_turns", drawingTurns);
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
