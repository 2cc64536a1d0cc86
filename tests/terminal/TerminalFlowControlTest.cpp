#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <fstream>
#include <thread>

#include "terminal/TerminalLogger.hpp"
#include "terminal/TerminalOutputFlow.hpp"
#include "terminal/TerminalSessionFixture.hpp"

namespace pelko {
namespace {

// A page that takes output only when the test says so: it records every event in order and keeps the
// acknowledgements of output until `acknowledgeAll`.
class SlowPageBridge final : public TerminalBridging {
  public:
    void dispatchTerminalSnapshot(const TerminalSnapshotPayload&) override {}
    void dispatchTerminalCreated(const TerminalCreatedPayload& payload) override {
        shellPid = payload.pid;
        add("created");
    }
    void dispatchTerminalStatus(const std::string&, const std::string& status,
                                std::optional<std::int32_t>) override {
        add("status " + status);
    }
    void dispatchTerminalExit(const std::string&, std::int32_t) override { add("exit"); }
    void dispatchTerminalError(const std::string&, const std::string& message) override {
        add("error " + message);
    }
    void dispatchTerminalOutput(const std::string&, std::span<const std::uint8_t>) override {
        add("untracked");
    }
    void deliverTerminalOutput(const std::string&, std::span<const std::uint8_t> data,
                               std::function<void()> onDelivered) override {
        std::lock_guard lock(mutex_);
        events_.push_back("output");
        output_.append(data.begin(), data.end());
        eventSizes_.push_back(data.size());
        held_.push_back(std::move(onDelivered));
    }
    void dispatchTerminalActivity(const std::string&) override {}
    void dispatchTerminalResize(const std::string&, int, int) override {}

    std::atomic<std::int32_t> shellPid = 0;

    void acknowledgeAll() {
        std::deque<std::function<void()>> held;
        {
            std::lock_guard lock(mutex_);
            held.swap(held_);
        }
        for (auto& acknowledge : held) acknowledge();
    }
    std::size_t heldCount() const {
        std::lock_guard lock(mutex_);
        return held_.size();
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::string output() const {
        std::lock_guard lock(mutex_);
        return output_;
    }
    std::vector<std::size_t> eventSizes() const {
        std::lock_guard lock(mutex_);
        return eventSizes_;
    }

  private:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::string output_;
    std::vector<std::size_t> eventSizes_;
    std::deque<std::function<void()>> held_;
};

// Whether the process's first child runs `sleep`.
bool sleepsInAChild(pid_t parent) {
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                           "/children");
    pid_t child = 0;
    if (!(children >> child)) return false;
    std::string name;
    std::ifstream("/proc/" + std::to_string(child) + "/comm") >> name;
    return name == "sleep";
}

class TerminalFlowControlTest : public test::TerminalSessionFixture {
  protected:
    void SetUp() override {
        TerminalSessionFixture::SetUp();
        service->attach(slowPage);
    }
    std::shared_ptr<SlowPageBridge> slowPage = std::make_shared<SlowPageBridge>();
};

// A shell that prints far more than the page takes: the reader stops at the high watermark, and once
// the page catches up every byte arrives, in order, in events within the size bound and larger than
// any one read, all before the exit.
TEST_F(TerminalFlowControlTest, OutputWaitsForThePageAndArrivesWholeBeforeTheExit) {
    constexpr int lines = 1000000;
    writeExecutable(root / "print.sh", "#!/bin/sh\nexec seq 1 " + std::to_string(lines) + "\n");
    const TerminalOutputFlow::Limits limits;
    constexpr std::size_t readSize = 64 * 1024;
    auto session = addSession((root / "print.sh").string());
    ASSERT_TRUE(test::waitFor([&] {
        return coordinator->undeliveredOutputBytes(session.id) >= limits.highWatermark;
    })) << coordinator->undeliveredOutputBytes(session.id);
    // Paused: at most one read past the watermark, and only the events the page may hold went out.
    EXPECT_LE(coordinator->undeliveredOutputBytes(session.id), limits.highWatermark + readSize);
    EXPECT_EQ(slowPage->heldCount(), limits.maxEventsInFlight);

    ASSERT_TRUE(test::waitFor(
        [&] {
            slowPage->acknowledgeAll();
            auto events = slowPage->events();
            return std::find(events.begin(), events.end(), "exit") != events.end();
        },
        std::chrono::seconds(120)));
    std::string expected;
    for (int i = 1; i <= lines; ++i) expected += std::to_string(i) + "\r\n";
    EXPECT_TRUE(slowPage->output() == expected) << slowPage->output().size() << " of " << expected.size();
    auto sizes = slowPage->eventSizes();
    EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), limits.maxEventBytes);
    EXPECT_GT(*std::max_element(sizes.begin(), sizes.end()), readSize);
    auto events = slowPage->events();
    auto lastOutput = std::find(events.rbegin(), events.rend(), "output").base();
    auto terminated = std::find(events.begin(), events.end(), "status terminated");
    EXPECT_LE(lastOutput - events.begin(), terminated - events.begin());
    EXPECT_EQ(std::count(events.begin(), events.end(), "untracked"), 0);
}

// Input for a terminal that reads nothing is queued without waiting and written once it reads.
TEST_F(TerminalFlowControlTest, InputForATerminalThatDoesNotReadIsQueuedWithoutWaiting) {
    writeExecutable(root / "later.sh",
                    "#!/bin/sh\ntrap : INT\nstty raw -echo\necho ready\nsleep 60\nhead -c 65536 | wc -c\n");
    auto session = addSession((root / "later.sh").string());
    ASSERT_TRUE(test::waitFor([&] {
        slowPage->acknowledgeAll();
        return slowPage->output().find("ready") != std::string::npos;
    }));
    type(session.id, std::string(64 * 1024, 'a'));
    auto events = slowPage->events();
    EXPECT_EQ(
        std::count_if(events.begin(), events.end(), [](const auto& e) { return e.rfind("error", 0) == 0; }),
        0);
    ASSERT_TRUE(test::waitFor([&] { return sleepsInAChild(slowPage->shellPid); }));
    service->sendSignal(session.id, "SIGINT");  // ends the sleep; the script goes on to read
    EXPECT_TRUE(test::waitFor([&] {
        slowPage->acknowledgeAll();
        return slowPage->output().find("65536") != std::string::npos;
    })) << slowPage->output();
}

// A log that cannot keep up holds the session's reader back instead of piling up copies of its output:
// here the log is a pipe that nobody reads until the writer has been stopped at the bound.
TEST(TerminalLoggerBoundTest, AReaderWaitsWhileTheLogHasTooMuchToWrite) {
    test::TempDir folder;
    const auto file = folder.path() / "pelko-terminal.log";
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    TerminalLogger logger(file);
    constexpr std::size_t chunk = 256 * 1024;
    constexpr int chunks = 32;  // twice the bound
    std::atomic<int> recorded = 0;
    std::thread reader([&] {
        for (int i = 0; i < chunks; ++i) {
            logger.record({Uuid::random(), TerminalLogEvent::Event::output,
                           std::vector<std::uint8_t>(chunk, 'x'), std::nullopt, std::nullopt});
            ++recorded;
        }
    });
    ASSERT_TRUE(
        test::waitFor([&] { return logger.pendingChunkBytes() >= TerminalLogger::maxPendingChunkBytes; }));
    EXPECT_LT(recorded.load(), chunks);
    EXPECT_LE(logger.pendingChunkBytes(), TerminalLogger::maxPendingChunkBytes + chunk);
    // The logger opens the file for each batch: the drain opens it again after each one.
    std::atomic<bool> stop = false;
    std::atomic<bool> drained = false;
    std::thread drain([&] {
        std::vector<char> buffer(1 << 16);
        while (!stop) {
            int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) break;
            while (read(fd, buffer.data(), buffer.size()) > 0) {
            }
            close(fd);
        }
        drained = true;
    });
    reader.join();
    EXPECT_EQ(recorded.load(), chunks);
    logger.flush();
    EXPECT_EQ(logger.pendingChunkBytes(), 0u);
    stop = true;
    // A drain waiting to open the pipe is let go by a writer that opens and closes it.
    EXPECT_TRUE(test::waitFor([&] {
        int fd = open(file.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) close(fd);
        return drained.load();
    }));
    drain.join();
}

}  // namespace
}  // namespace pelko
