#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

#include "terminal/TerminalLogger.hpp"
#include "terminal/TerminalOutputFlow.hpp"
#include "terminal/TerminalSessionFixture.hpp"

namespace pelko {
namespace {

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

// The page falls behind: output is acknowledged only when the test says so.
class TerminalFlowControlTest : public test::TerminalSessionFixture {
  protected:
    void SetUp() override {
        TerminalSessionFixture::SetUp();
        bridge->holdAcknowledgements = true;
    }
    bool outputContains(const Uuid& id, const std::string& text) {
        bridge->acknowledgeAll();
        return bridge->outputContains(id.string(), text);
    }
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
    EXPECT_EQ(bridge->heldCount(), limits.maxEventsInFlight);

    ASSERT_TRUE(test::waitFor(
        [&] {
            bridge->acknowledgeAll();
            return !bridge->events("exit").empty();
        },
        std::chrono::seconds(120)));
    std::string expected;
    for (int i = 1; i <= lines; ++i) expected += std::to_string(i) + "\r\n";
    const std::string output = bridge->output(session.id.string());
    EXPECT_TRUE(output == expected) << output.size() << " of " << expected.size();
    std::size_t largest = 0;
    for (const auto& event : bridge->events("output")) largest = std::max(largest, event.text.size());
    EXPECT_LE(largest, limits.maxEventBytes);
    EXPECT_GT(largest, readSize);
    EXPECT_EQ(bridge->deliveries(), bridge->events("output").size());
    const auto events = bridge->events();
    auto lastOutput =
        std::find_if(events.rbegin(), events.rend(), [](auto& e) { return e.type == "output"; });
    auto terminated = std::find_if(events.begin(), events.end(),
                                   [](auto& e) { return e.type == "status" && e.text == "terminated"; });
    EXPECT_LE(events.rend() - lastOutput, terminated - events.begin());
}

// Input for a terminal that reads nothing is queued without waiting and written once it reads.
TEST_F(TerminalFlowControlTest, InputForATerminalThatDoesNotReadIsQueuedWithoutWaiting) {
    writeExecutable(root / "later.sh",
                    "#!/bin/sh\ntrap : INT\nstty raw -echo\necho ready\nsleep 60\nhead -c 65536 | wc -c\n");
    auto session = addSession((root / "later.sh").string());
    ASSERT_TRUE(test::waitFor([&] { return outputContains(session.id, "ready"); }));
    type(session.id, std::string(64 * 1024, 'a'));
    EXPECT_TRUE(bridge->events("error").empty());
    const pid_t shell = waitForCreated(session.id);
    ASSERT_TRUE(test::waitFor([&] { return sleepsInAChild(shell); }));
    service->sendSignal(session.id, "SIGINT");  // ends the sleep; the script goes on to read
    EXPECT_TRUE(test::waitFor([&] { return outputContains(session.id, "65536"); }))
        << bridge->output(session.id.string());
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
