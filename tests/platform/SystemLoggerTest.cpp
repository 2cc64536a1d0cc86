#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/SystemLogger.hpp"
#include "support/TestSupport.hpp"

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

// The child half of the test below, entered before any test runs when the program is started again
// with PELKO_LOGGER_CHILD set: it logs one line of each level and ends.
[[maybe_unused]] const bool loggerChild = [] {
    if (!std::getenv("PELKO_LOGGER_CHILD")) return false;
    SystemLogger logger("app.pelko.test", "stream");
    logger.debug("debug line %s");
    logger.info("info line");
    logger.notice("notice line");
    logger.error("error line");
    std::exit(0);
}();

// Without a journal on standard error, entries reach the standard streams, and debug lines show only
// when G_MESSAGES_DEBUG names their subsystem.
TEST(SystemLoggerTest, WithoutAJournalEntriesReachTheStandardStreamsAsInAnyGLibProgram) {
    test::TempDir dir;
    // The child's environment holds nothing else: no journal stream is inherited.
    auto runChild = [&](const std::string& messagesDebug) {
        const auto output = dir / "output.txt";
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        EXPECT_EQ(std::system(("env -i PELKO_LOGGER_CHILD=1 G_MESSAGES_DEBUG='" + messagesDebug + "' '" +
                               self + "' >'" + output.string() + "' 2>&1")
                                  .c_str()),
                  0);
        return test::readFile(output);
    };
    const std::string quiet = runChild("");
    EXPECT_NE(quiet.find("notice line"), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("error line"), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find("debug line"), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find("info line"), std::string::npos) << quiet;

    const std::string verbose = runChild("app.pelko.test");
    EXPECT_NE(verbose.find("debug line %s"), std::string::npos) << verbose;
    EXPECT_NE(verbose.find("info line"), std::string::npos) << verbose;
    EXPECT_NE(verbose.find("app.pelko.test"), std::string::npos) << verbose;
}

}  // namespace
}  // namespace pelko
