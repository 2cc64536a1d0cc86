// The inotify watcher on real folders, alone and under ExplorerService (20 ms debounce, batches
// delivered on the main queue and awaited with drainUntil).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>

#include "explorer/ExplorerService.hpp"
#include "explorer/InotifyExplorerWatcher.hpp"
#include "platform/MainQueue.hpp"
#include "platform/SerialQueue.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace pelko {
namespace {

using test::TempDir;
using test::writeFile;

// inotify watches held by this process, from /proc/self/fdinfo.
int countInotifyWatches() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fdinfo")) {
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) count += line.starts_with("inotify wd:") ? 1 : 0;
    }
    return count;
}

// Collects a raw watcher's deliveries from its reader thread.
class EventSink {
  public:
    ExplorerEventWatching::Handler handler() {
        return [this](std::vector<ExplorerFileEvent> events) {
            std::lock_guard guard(mutex_);
            ++deliveries_;
            events_.insert(events_.end(), events.begin(), events.end());
            changed_.notify_all();
        };
    }
    bool waitFor(const std::function<bool(const std::vector<ExplorerFileEvent>&)>& predicate,
                 std::chrono::milliseconds timeout = 60s) {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, timeout, [&] { return predicate(events_); });
    }
    bool waitForPath(const fs::path& path) {
        return waitFor([&](const auto& events) {
            for (const auto& event : events) {
                if (event.path == path.string()) return true;
            }
            return false;
        });
    }
    int deliveries() {
        std::lock_guard guard(mutex_);
        return deliveries_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ExplorerFileEvent> events_;
    int deliveries_ = 0;
};

bool hasResync(const std::vector<ExplorerFileEvent>& events) {
    for (const auto& event : events) {
        if (event.requiresResync) return true;
    }
    return false;
}

class InotifyWatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::canonical(dir.path()) / "root";
        fs::create_directories(root);
    }

    // Returns once the watcher's first scan is over: it reads events only after that. The probe is a
    // link, whose creation is a single event. (Folders changed just before the watch began may be
    // reported too, so tests check for what must and must not be there, not for exact sets.)
    void activate(const std::vector<std::string>& excluded = {}, bool waitForScan = true) {
        ASSERT_TRUE(
            service->activateMonitoring(project, root, excluded, [this](const ExplorerChangeBatch& batch) {
                EXPECT_EQ(batch.projectId, project);
                batches.push_back(batch);
            }));
        if (!waitForScan) return;
        fs::create_symlink("nowhere", root / ".probe");
        ASSERT_TRUE(waitForFolders({""}));
        batches.clear();
    }

    std::set<std::string> seen() const {
        std::set<std::string> folders;
        for (const auto& batch : batches)
            folders.insert(batch.directoryPaths.begin(), batch.directoryPaths.end());
        return folders;
    }

    bool waitForFolders(const std::set<std::string>& expected) {
        return MainQueue::shared().drainUntil(
            [&] {
                auto folders = seen();
                return std::includes(folders.begin(), folders.end(), expected.begin(), expected.end());
            },
            60s);
    }

    bool waitForResync() {
        return MainQueue::shared().drainUntil(
            [&] {
                for (const auto& batch : batches) {
                    if (batch.requiresResync) return true;
                }
                return false;
            },
            60s);
    }

    TempDir dir;
    fs::path root;
    Uuid project = Uuid::random();
    std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>(ExplorerService::debounceQueueLabel);
    std::unique_ptr<ExplorerService> service = std::make_unique<ExplorerService>(20ms, queue);
    std::vector<ExplorerChangeBatch> batches;
};

TEST_F(InotifyWatchTest, NestedFoldersCreatedInQuickSuccessionAreAllReported) {
    activate();
    fs::create_directories(root / "a/b");
    writeFile(root / "a/b/c", "x");
    ASSERT_TRUE(waitForFolders({"", "a", "a/b"})) << batches.size();

    // The new folders are watched themselves.
    batches.clear();
    writeFile(root / "a/b/d", "y");
    ASSERT_TRUE(waitForFolders({"a/b"}));
}

TEST_F(InotifyWatchTest, ChangesDuringTheFirstScanAreNotLost) {
    for (int i = 0; i < 200; ++i) fs::create_directories(root / ("pre" + std::to_string(i)) / "sub");
    activate({}, false);
    fs::create_directories(root / "pre199/sub/x/y");
    writeFile(root / "pre199/sub/x/y/z", "");
    writeFile(root / "pre0/sub/f", "");
    ASSERT_TRUE(waitForFolders({"pre199/sub/x/y", "pre0/sub"}));
}

TEST_F(InotifyWatchTest, RenamedFolderKeepsItsWatchesUnderTheNewName) {
    fs::create_directories(root / "old/inner");
    activate();
    fs::rename(root / "old", root / "new");
    writeFile(root / "new/file.txt", "x");
    writeFile(root / "new/inner/deep.txt", "x");
    ASSERT_TRUE(waitForFolders({"", "new", "new/inner"}));
    EXPECT_FALSE(seen().count("old"));
    EXPECT_FALSE(seen().count("old/inner"));
}

TEST_F(InotifyWatchTest, FoldersMovedInAreScannedAndMovedOutAreDropped) {
    fs::create_directories(dir / "outside/x/y");
    writeFile(dir / "outside/x/y/z.txt", "");
    fs::create_directories(root / "m/n");
    activate();

    fs::rename(dir / "outside/x", root / "x");
    ASSERT_TRUE(waitForFolders({"", "x", "x/y"}));
    batches.clear();
    writeFile(root / "x/y/later.txt", "");
    ASSERT_TRUE(waitForFolders({"x/y"}));

    fs::rename(root / "m", dir / "outside/m");
    ASSERT_TRUE(waitForFolders({""}));
    batches.clear();
    writeFile(dir / "outside/m/n/f.txt", "");
    // inotify keeps one queue in order: once the probe is seen, the file above would have been too.
    writeFile(root / "probe", "");
    ASSERT_TRUE(waitForFolders({""}));
    EXPECT_FALSE(seen().count("m/n"));
    EXPECT_FALSE(seen().count("m"));
}

TEST_F(InotifyWatchTest, DeletedFolderAndItsSuccessor) {
    fs::create_directories(root / "d/e");
    writeFile(root / "d/e/f", "");
    activate();
    fs::remove_all(root / "d");
    ASSERT_TRUE(waitForFolders({"", "d"}));

    batches.clear();
    fs::create_directories(root / "d");
    writeFile(root / "d/g", "");
    ASSERT_TRUE(waitForFolders({"", "d"}));
    for (const auto& batch : batches) EXPECT_FALSE(batch.requiresResync);
}

TEST_F(InotifyWatchTest, RootDeletedAsksForResync) {
    fs::create_directories(root / "a");
    activate();
    fs::remove_all(root);
    ASSERT_TRUE(waitForResync());
    EXPECT_TRUE(seen().count(""));
}

TEST_F(InotifyWatchTest, RootMovedAsksForResync) {
    activate();
    fs::rename(root, dir / "elsewhere");
    ASSERT_TRUE(waitForResync());
    EXPECT_TRUE(seen().count(""));
}

// The root goes away and comes back: its watch is armed again by itself, with a resync.
TEST_F(InotifyWatchTest, RootThatComesBackIsWatchedAgain) {
    struct Case {
        const char* what;
        fs::path root;
        std::function<void(const fs::path&)> lose;
        std::function<void(const fs::path&)> restore;
    };
    const Case cases[] = {
        {"deleted and made again", dir / "made", [](const fs::path& r) { fs::remove_all(r); },
         [](const fs::path& r) { fs::create_directories(r); }},
        {"moved away and back", dir / "moved", [&](const fs::path& r) { fs::rename(r, dir / "away"); },
         [&](const fs::path& r) { fs::rename(dir / "away", r); }},
        {"deleted with its parent, made again with it", dir / "outer/inner/nested",
         [&](const fs::path&) { fs::remove_all(dir / "outer"); },
         [](const fs::path& r) { fs::create_directories(r); }},
    };
    // The last case again and again: its branch may go while the watcher looks for a folder to wait in.
    std::vector<const Case*> runs{&cases[0], &cases[1]};
    for (int round = 0; round < 10; ++round) runs.push_back(&cases[2]);
    for (const Case* run : runs) {
        const Case& c = *run;
        SCOPED_TRACE(c.what);
        root = c.root;
        fs::create_directories(root);
        activate();
        c.lose(root);
        ASSERT_TRUE(waitForResync());
        EXPECT_FALSE(service->isWatching(project));
        batches.clear();
        c.restore(root);
        ASSERT_TRUE(waitForResync());
        EXPECT_TRUE(service->isWatching(project));
        batches.clear();
        fs::create_directories(root / "sub");
        writeFile(root / "sub/after.txt", "x");
        ASSERT_TRUE(waitForFolders({"", "sub"}));
        service->stopMonitoring();
        batches.clear();
    }
}

TEST_F(InotifyWatchTest, NoWatchesInsideExcludedFoldersOrThroughLinks) {
    fs::create_directories(root / "node_modules/pkg/deep");
    fs::create_directories(root / ".git/objects");
    fs::create_directories(root / "gen/sub");
    fs::create_directories(root / "src/lib");
    fs::create_directories(dir / "outside/a/b");
    fs::create_directory_symlink(dir / "outside", root / "linkOut");
    const int before = countInotifyWatches();
    activate({"gen"});
    // root, src, src/lib
    EXPECT_EQ(countInotifyWatches() - before, 3);

    fs::create_directories(root / "node_modules/new/inner");
    writeFile(root / "node_modules/pkg/deep/f.js", "");
    writeFile(dir / "outside/a/b/f", "");
    writeFile(root / "src/lib/probe", "");
    ASSERT_TRUE(waitForFolders({"src/lib"}));
    for (const auto& folder : seen()) {
        EXPECT_FALSE(folder.starts_with("node_modules") || folder.starts_with("linkOut")) << folder;
    }
    EXPECT_EQ(countInotifyWatches() - before, 3);

    service->stopMonitoring();
    EXPECT_EQ(countInotifyWatches(), before);
}

TEST(InotifyExplorerWatcher, StopReturnsOnlyWhenNoHandlerCanRun) {
    TempDir dir;
    const fs::path root = fs::canonical(dir.path());
    EventSink first;
    auto watcher = std::make_unique<InotifyExplorerWatcher>(root, ExplorerExclusionRules());
    ASSERT_TRUE(watcher->start(first.handler()));
    writeFile(root / "one", "");
    ASSERT_TRUE(first.waitForPath(root / "one"));
    watcher->stop();
    const int deliveries = first.deliveries();

    EventSink probeSink;
    InotifyExplorerWatcher probe(root, ExplorerExclusionRules());
    ASSERT_TRUE(probe.start(probeSink.handler()));
    writeFile(root / "two", "");
    ASSERT_TRUE(probeSink.waitForPath(root / "two"));
    EXPECT_EQ(first.deliveries(), deliveries);

    // Restartable after stop, and stop from inside the handler neither deadlocks nor delivers again.
    std::mutex mutex;
    std::condition_variable stopped;
    int calls = 0;
    ASSERT_TRUE(watcher->start([&](std::vector<ExplorerFileEvent>) {
        watcher->stop();
        std::lock_guard guard(mutex);
        ++calls;
        stopped.notify_all();
    }));
    writeFile(root / "three", "");
    {
        std::unique_lock guard(mutex);
        ASSERT_TRUE(stopped.wait_for(guard, 60s, [&] { return calls == 1; }));
    }
    writeFile(root / "four", "");
    ASSERT_TRUE(probeSink.waitForPath(root / "four"));
    watcher.reset();
    std::lock_guard guard(mutex);
    EXPECT_EQ(calls, 1);
}

TEST(InotifyExplorerWatcher, StartFailsForAMissingRoot) {
    TempDir dir;
    InotifyExplorerWatcher watcher(dir / "missing", ExplorerExclusionRules());
    EXPECT_FALSE(watcher.start([](std::vector<ExplorerFileEvent>) {}));
}

TEST(InotifyExplorerWatcher, QueueOverflowAsksForResyncAndKeepsWatching) {
    std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
    long limit = 0;
    limitFile >> limit;
    if (limit <= 0 || limit > 100000) GTEST_SKIP() << "queue limit too large to overflow quickly";

    TempDir dir;
    const fs::path root = fs::canonical(dir.path());
    fs::create_directories(root / "sub");
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    std::vector<ExplorerFileEvent> events;
    InotifyExplorerWatcher watcher(root, ExplorerExclusionRules());
    ASSERT_TRUE(watcher.start([&](std::vector<ExplorerFileEvent> delivered) {
        std::unique_lock guard(mutex);
        entered = true;
        changed.notify_all();
        // Hold the reader so that the kernel queue fills up.
        changed.wait(guard, [&] { return released; });
        events.insert(events.end(), delivered.begin(), delivered.end());
        changed.notify_all();
    }));
    writeFile(root / "first", "");
    {
        std::unique_lock guard(mutex);
        ASSERT_TRUE(changed.wait_for(guard, 60s, [&] { return entered; }));
    }
    // Each file gives a create and a close-after-write event.
    for (long i = 0; i < limit / 2 + 64; ++i) {
        int fd = ::open((root / ("f" + std::to_string(i))).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    {
        std::unique_lock guard(mutex);
        released = true;
        changed.notify_all();
        ASSERT_TRUE(changed.wait_for(guard, 60s, [&] { return hasResync(events); }));
    }
    writeFile(root / "sub/after", "");
    std::unique_lock guard(mutex);
    ASSERT_TRUE(changed.wait_for(guard, 60s, [&] {
        for (const auto& event : events) {
            if (event.path == (root / "sub/after").string()) return true;
        }
        return false;
    }));
}

// The per-user watch limit, lowered inside a user namespace of a child process so that nothing else
// on the machine is affected. Exit codes: 0 as expected, 77 no user namespaces, others failures.
int runWithWatchLimit(int limit, const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER) != 0) ::_exit(77);
        auto writeText = [](const char* path, const std::string& text) {
            std::ofstream out(path);
            out << text;
            out.flush();
            return static_cast<bool>(out);
        };
        if (!writeText("/proc/self/setgroups", "deny") ||
            !writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
            !writeText("/proc/sys/user/max_inotify_watches", std::to_string(limit))) {
            ::_exit(77);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InotifyExplorerWatcher, WatchLimitReachedAsksForResync) {
    TempDir dir;
    const fs::path root = fs::canonical(dir.path());
    fs::create_directories(root / "a/b/c/d");

    // The limit is hit while the tree is first scanned: watching still starts, with a resync first.
    int atStart = runWithWatchLimit(3, [&] {
        EventSink sink;
        InotifyExplorerWatcher watcher(root, ExplorerExclusionRules());
        if (!watcher.start(sink.handler())) return 1;
        return sink.waitFor(hasResync) ? 0 : 2;
    });
    if (atStart == 77) GTEST_SKIP() << "user namespaces are not available";
    EXPECT_EQ(atStart, 0);

    // The limit is hit by a folder created later.
    int later = runWithWatchLimit(5, [&] {
        EventSink sink;
        InotifyExplorerWatcher watcher(root, ExplorerExclusionRules());
        if (!watcher.start(sink.handler())) return 1;
        fs::create_directories(root / "new");
        if (!sink.waitForPath(root / "new")) return 3;
        return sink.waitFor(hasResync) ? 0 : 2;
    });
    EXPECT_EQ(later, 0);
}

}  // namespace
}  // namespace pelko
