#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/SystemLogger.hpp"

namespace pelko {
namespace {

TEST(SystemLoggerTest, CaptureReceivesEntriesFromEveryThread) {
    LogCapture capture;
    SystemLogger persistence("app.pelko.test", "persistence");
    SystemLogger other("app.pelko.test", "other");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) persistence.info("saved");
        });
    }
    for (auto& thread : threads) thread.join();
    other.error("failed");
    persistence.debug("d");
    EXPECT_EQ(capture.entries().size(), 202u);
    auto matching = capture.entries("app.pelko.test", "other");
    ASSERT_EQ(matching.size(), 1u);
    EXPECT_EQ(matching[0].level, LogLevel::error);
    EXPECT_EQ(matching[0].message, "failed");
    EXPECT_EQ(capture.entries("app.pelko.test", "persistence").back().level, LogLevel::debug);
    capture.clear();
    EXPECT_TRUE(capture.entries().empty());
}

TEST(SystemLoggerTest, WithoutCaptureEntriesGoToTheJournal) {
    SystemLogger logger("app.pelko.test", "journal");
    logger.notice("written to the journal, 100% safe with format characters %s %n");
    {
        LogCapture capture;
        logger.info("captured");
        EXPECT_EQ(capture.entries().size(), 1u);
    }
    logger.info("after the capture");
}

}  // namespace
}  // namespace pelko
