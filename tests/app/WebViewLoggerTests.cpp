#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/WebViewLogger.hpp"
#include "platform/SystemLogger.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

Date fixedTime() {
    return Date::fromMilliseconds(1796714490123);
}  // 2026-12-08T07:21:30.123Z
TEST(WebViewLoggerTest, LivesDirectlyInTheCacheFolder) {
    XdgFolders folders;
    folders.cacheHome = "/home/u/.cache";
    folders.tempDir = "/tmp";
    EXPECT_EQ(WebViewLogger::defaultLocation(folders), "/home/u/.cache/pelko-webview.log");
    folders.cacheHome.clear();
    EXPECT_EQ(WebViewLogger::defaultLocation(folders), "/tmp/pelko-webview.log");
}

TEST(WebViewLoggerTest, CreatesPrivatelyThenAppends) {
    test::TempDir dir;
    const auto file = dir / "cache/pelko-webview.log";
    WebViewLogger logger(file, fixedTime);
    logger.log("[web] [info] first");
    EXPECT_EQ(test::fileMode(file), 0600u);
    EXPECT_EQ(test::fileMode(file.parent_path()), 0700u);
    logger.log("");
    EXPECT_EQ(test::readFile(file),
              "[2026-12-08T07:21:30.123Z] [web] [info] first\n"
              "[2026-12-08T07:21:30.123Z] \n");

    std::filesystem::remove(file);
    logger.log("again");
    EXPECT_EQ(test::readFile(file), "[2026-12-08T07:21:30.123Z] again\n");
}

TEST(WebViewLoggerTest, AFailedWriteGoesToTheSystemLog) {
    test::TempDir dir;
    test::writeFile(dir / "blocker", "a file where the folder should be");
    LogCapture capture;
    WebViewLogger(dir / "blocker/pelko-webview.log", fixedTime).log("lost");
    auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, LogLevel::error);
    EXPECT_EQ(entries[0].message.rfind("[WebViewLogger] Failed to write log: ", 0), 0u);
}

TEST(WebViewLoggerTest, LinesForMessages) {
    auto line = [](const char* text) { return WebViewLogger::lineForMessage(*json::parse(text)); };
    EXPECT_FALSE(line(R"({"type":"app/config/request"})"));
    EXPECT_FALSE(line(R"([1,2])"));
    EXPECT_EQ(line(R"({"type":"webview/log"})"), "[web] [info]");
    EXPECT_EQ(line(R"({"type":"webview/log","level":3,"source":"boot","message":"hi"})"), "[boot] [info] hi");
    EXPECT_EQ(line(R"({"type":"webview/log","level":"warn","message":"","payload":{"a":1}})"),
              "[web] [warn] {\n  \"a\": 1\n}");
    EXPECT_EQ(line(R"({"type":"webview/log","message":""})"), "[web] [info]");
    EXPECT_EQ(line(R"({"type":"webview/log","payload":"text"})"), "[web] [info] text");
    EXPECT_EQ(line(R"({"type":"webview/log","payload":2.5})"), "[web] [info] 2.5");
}

TEST(WebViewLoggerTest, APayloadNestedDeeperThanTheBoundIsCutToANote) {
    auto line = [](std::size_t depth) {
        std::string text =
            R"({"type":"webview/log","payload":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
        return WebViewLogger::lineForMessage(*json::parse(text)).value();
    };
    EXPECT_EQ(line(2), "[web] [info] [\n  []\n]");
    const std::string cut = "[web] [info] <value nested deeper than 64 levels>";
    EXPECT_EQ(line(json::maxValueDepth + 1), cut);
    EXPECT_EQ(line(100'000), cut);
}

}  // namespace
}  // namespace pelko
