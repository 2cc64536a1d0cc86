// Change batching of ExplorerService, fed through a fake watcher at the ExplorerEventWatching seam:
// reduction of raw events to folders, debouncing, generations and stopping.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "explorer/ExplorerService.hpp"
#include "platform/MainQueue.hpp"
#include "platform/SerialQueue.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace pelko {
namespace {

using File = ExplorerFileItemKind;
using Change = ExplorerFileChangeKind;

struct FakeWatcherLog {
    std::vector<std::string> roots;
    ExplorerEventWatching::Handler handler;  // kept after stop, to play a delivery that raced with it
    int starts = 0;
    int stops = 0;
    bool failStart = false;
};

class FakeWatcher final : public ExplorerEventWatching {
  public:
    explicit FakeWatcher(std::shared_ptr<FakeWatcherLog> log) : log_(std::move(log)) {}
    bool start(Handler handler) override {
        ++log_->starts;
        if (log_->failStart) return false;
        log_->handler = std::move(handler);
        return true;
    }
    void stop() override { ++log_->stops; }

  private:
    std::shared_ptr<FakeWatcherLog> log_;
};

class ExplorerWatchTest : public ::testing::Test {
  protected:
    ExplorerWatchTest() {
        service = std::make_unique<ExplorerService>(
            20ms, queue, nullptr, [this](const fs::path& root, const ExplorerExclusionRules&) {
                log->roots.push_back(root.string());
                return std::make_unique<FakeWatcher>(log);
            });
    }

    bool activate(const Uuid& project, const std::string& root = "/p/root",
                  const std::vector<std::string>& excluded = {}) {
        return service->activateMonitoring(
            project, root, excluded, [this](const ExplorerChangeBatch& batch) { batches.push_back(batch); });
    }

    void deliver(std::vector<ExplorerFileEvent> events) { log->handler(std::move(events)); }

    bool waitForBatches(std::size_t count) {
        return MainQueue::shared().drainUntil([&] { return batches.size() >= count; }, 60s);
    }

    // Everything armed so far has flushed and its callback has had its turn on the main queue: the
    // marker is due after any flush, and posts to the main queue after it.
    void settle() {
        bool done = false;
        queue->asyncAfter(80ms, [&done] { MainQueue::shared().async([&done] { done = true; }); });
        ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return done; }, 60s));
    }

    std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>(ExplorerService::debounceQueueLabel);
    std::shared_ptr<FakeWatcherLog> log = std::make_shared<FakeWatcherLog>();
    std::vector<ExplorerChangeBatch> batches;
    std::unique_ptr<ExplorerService> service;
    Uuid project = Uuid::random();
};

TEST_F(ExplorerWatchTest, EventsBecomeTheFoldersToReload) {
    ASSERT_TRUE(activate(project, "/p/./root/"));
    EXPECT_EQ(log->roots, (std::vector<std::string>{"/p/root"}));

    struct Case {
        std::vector<ExplorerFileEvent> events;
        std::vector<std::string> folders;
    };
    const Case cases[] = {
        {{{"/p/root/src/main.cpp", File::file, Change::modified}}, {"src"}},
        {{{"/p/root/README", File::file, Change::modified}}, {""}},
        {{{"/p/root/src/new", File::directory, Change::created}}, {"src"}},
        {{{"/p/root/src/new", File::directory, Change::modified}}, {"src/new"}},
        {{{"/p/root/src/old", File::directory, Change::renamed}}, {"src"}},
        {{{"/p/root/src", File::directory, Change::modified},
          {"/p/root/src/a.txt", File::file, Change::created}},
         {"src"}},
        {{{"/p/root", File::directory, Change::created}, {"/p/root/lib/x", File::file, Change::removed}},
         {"lib"}},
        {{{"/p/root", File::directory, Change::renamed}}, {""}},
        {{{"/p/root/src/b", File::file, Change::created},
          {"/p/root/a/x", File::file, Change::created},
          {"/p/root/src/c", File::file, Change::removed}},
         {"a", "src"}},
        // Names that are not UTF-8 are kept as they are.
        {{{"/p/root/d\xff/f\xfe", File::file, Change::created}}, {"d\xff"}},
    };
    for (const auto& c : cases) {
        batches.clear();
        deliver(c.events);
        ASSERT_TRUE(waitForBatches(1));
        EXPECT_EQ(batches[0].projectId, project);
        EXPECT_EQ(batches[0].directoryPaths, c.folders) << c.events.front().path;
        EXPECT_FALSE(batches[0].requiresResync);
    }
}

TEST_F(ExplorerWatchTest, UnknownItemKindLooksAtTheDisk) {
    test::TempDir dir;
    fs::create_directories(dir / "root/sub");
    ASSERT_TRUE(activate(project, (dir / "root").string()));
    deliver({{(dir / "root/sub").string(), File::unknown, Change::unknown},
             {(dir / "root/gone/x").string(), File::unknown, Change::removed}});
    ASSERT_TRUE(waitForBatches(1));
    EXPECT_EQ(batches[0].directoryPaths, (std::vector<std::string>{"gone", "sub"}));
}

TEST_F(ExplorerWatchTest, ExcludedAndUnrelatedEventsArmNothing) {
    ASSERT_TRUE(activate(project, "/p/root", {"build/out", "dist"}));
    deliver({{"/p/root/node_modules/pkg/index.js", File::file, Change::modified},
             {"/p/root/.git/index", File::file, Change::modified},
             {"/p/root/build/out/a.o", File::file, Change::created},
             {"/p/root/web/dist/app.js", File::file, Change::created},
             {"/p/elsewhere/x", File::file, Change::created},
             {"/p/rootless/x", File::file, Change::created}});
    settle();
    EXPECT_TRUE(batches.empty());

    // An excluded folder appearing at the top is hidden there, so no listing changes.
    deliver({{"/p/root/node_modules", File::directory, Change::created}});
    settle();
    EXPECT_TRUE(batches.empty());
}

TEST_F(ExplorerWatchTest, ResyncEventsAreFlaggedEvenFromOutside) {
    ASSERT_TRUE(activate(project));
    deliver({{"/p/root/src", File::directory, Change::modified, true}});
    ASSERT_TRUE(waitForBatches(1));
    EXPECT_EQ(batches[0].directoryPaths, (std::vector<std::string>{"src"}));
    EXPECT_TRUE(batches[0].requiresResync);

    deliver({{"/p", File::directory, Change::unknown, true}, {"/p/root/a/f", File::file, Change::modified}});
    ASSERT_TRUE(waitForBatches(2));
    EXPECT_EQ(batches[1].directoryPaths, (std::vector<std::string>{"", "a"}));
    EXPECT_TRUE(batches[1].requiresResync);

    // The flag does not stick to later batches.
    deliver({{"/p/root/a/f", File::file, Change::modified}});
    ASSERT_TRUE(waitForBatches(3));
    EXPECT_FALSE(batches[2].requiresResync);
}

TEST_F(ExplorerWatchTest, DeliveriesWithinTheWaitMergeSortedWithoutDuplicates) {
    ASSERT_TRUE(activate(project));
    deliver({{"/p/root/z/1", File::file, Change::created}, {"/p/root/b/1", File::file, Change::created}});
    deliver({{"/p/root/b/2", File::file, Change::created}, {"/p/root/A/1", File::file, Change::created}});
    deliver({{"/p/root/top", File::file, Change::created}});
    ASSERT_TRUE(waitForBatches(1));
    settle();
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].directoryPaths, (std::vector<std::string>{"", "A", "b", "z"}));
}

TEST_F(ExplorerWatchTest, NewActivationDropsEverythingOfTheOldWatch) {
    ASSERT_TRUE(activate(project, "/p/one"));
    auto oldHandler = log->handler;
    deliver({{"/p/one/src/x", File::file, Change::created}});

    auto other = Uuid::random();
    ASSERT_TRUE(activate(other, "/p/two"));
    EXPECT_EQ(log->stops, 1);
    // A delivery of the old watch that raced with the switch, even for a path under the new root.
    oldHandler({{"/p/two/late/x", File::file, Change::created}});
    deliver({{"/p/two/new/x", File::file, Change::created}});
    ASSERT_TRUE(waitForBatches(1));
    settle();
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0].projectId, other);
    EXPECT_EQ(batches[0].directoryPaths, (std::vector<std::string>{"new"}));
}

TEST_F(ExplorerWatchTest, StopMeansNoMoreCallbacks) {
    ASSERT_TRUE(activate(project));
    deliver({{"/p/root/src/x", File::file, Change::created}});
    service->stopMonitoring();
    EXPECT_EQ(log->stops, 1);
    settle();
    EXPECT_TRUE(batches.empty());

    // A batch already flushed and waiting on the main queue is dropped too.
    ASSERT_TRUE(activate(project));
    deliver({{"/p/root/src/y", File::file, Change::created}});
    std::promise<void> flushed;
    queue->asyncAfter(80ms, [&flushed] { flushed.set_value(); });
    flushed.get_future().wait();
    service->stopMonitoring();
    MainQueue::shared().drain();
    EXPECT_TRUE(batches.empty());

    service->stopMonitoring();  // harmless when idle
}

TEST_F(ExplorerWatchTest, ReleasingTheServiceStopsItsWatchAndPendingBatch) {
    ASSERT_TRUE(activate(project));
    deliver({{"/p/root/src/x", File::file, Change::created}});
    auto handler = log->handler;
    service.reset();
    EXPECT_EQ(log->stops, 1);
    handler({{"/p/root/src/z", File::file, Change::created}});
    settle();
    EXPECT_TRUE(batches.empty());
}

TEST_F(ExplorerWatchTest, WatcherThatCannotStartLeavesTheServiceIdle) {
    log->failStart = true;
    EXPECT_FALSE(activate(project));
    EXPECT_EQ(log->starts, 1);
    EXPECT_EQ(log->stops, 1);
    log->failStart = false;
    EXPECT_TRUE(activate(project));
    EXPECT_EQ(log->stops, 1);
}

// A project rooted at "/" relates every absolute path to its root.
TEST_F(ExplorerWatchTest, ProjectRootedAtSlash) {
    ASSERT_TRUE(activate(project, "/"));
    EXPECT_EQ(log->roots.back(), "/");
    deliver({{"/etc/hosts", File::file, Change::modified},
             {"/", File::directory, Change::modified},
             {"/top.txt", File::file, Change::created},
             {"/var", File::directory, Change::modified}});
    ASSERT_TRUE(waitForBatches(1));
    EXPECT_EQ(batches[0].directoryPaths, (std::vector<std::string>{"", "etc", "var"}));
}

}  // namespace
}  // namespace pelko
