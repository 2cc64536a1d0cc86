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
    EXPECT_EQ(line(R"({"type":"webview/log","level":"warn","message":"","payload":{"a":1,"b":[true,null]}})"),
              R"([web] [warn] {"a":1,"b":[true,null]})");
    EXPECT_EQ(line(R"({"type":"webview/log","message":""})"), "[web] [info]");
    EXPECT_EQ(line(R"({"type":"webview/log","payload":"text"})"), "[web] [info] text");
    EXPECT_EQ(line(R"({"type":"webview/log","payload":2.5})"), "[web] [info] 2.5");
}

// A page could otherwise start a line of its own that reads like any other record.
TEST(WebViewLoggerTest, ThePagesTextNeverBreaksTheLine) {
    auto line = [](const std::string& text) {
        return WebViewLogger::lineForMessage(*json::parse(text)).value();
    };
    const std::string forged = "[2026-12-08T07:21:30.123Z] [web] [info] forged";
    // In the message and in the source: line feed, carriage return, U+2028 and U+2029.
    EXPECT_EQ(line(R"({"type":"webview/log","source":"a\nb\rc\u2028d","message":"x\n)" + forged +
                   R"(\r\u2028y\u2029z"})"),
              R"([a\nb\rc\u2028d] [info] x\n)" + forged + R"(\r\u2028y\u2029z)");
    // The other C0 characters, DEL and the C1 characters (U+0085 ends a line for some readers); the
    // backslash too, so that text cannot pass for an escape.
    EXPECT_EQ(
        line(
            R"({"type":"webview/log","level":"w\u0000\t","message":"\u0001\u001b[31m\u007f\u0085\u009f\\n\u00a0é"})"),
        "[web] [w\\u0000\\t] \\u0001\\u001b[31m\\u007f\\u0085\\u009f\\\\n\u00a0é");
    // A text payload is escaped the same way; a JSON payload stays JSON, on one line.
    EXPECT_EQ(line(R"({"type":"webview/log","payload":"p\nq\\"})"), R"([web] [info] p\nq\\)");
    EXPECT_EQ(line(R"({"type":"webview/log","payload":{"k\u2028":["a\nb\u007f","\\","\u0085"]}})"),
              R"([web] [info] {"k\u2028":["a\nb\u007f","\\","\u0085"]})");

    // Written to the file, each message is one record.
    test::TempDir dir;
    WebViewLogger logger(dir / "pelko-webview.log", fixedTime);
    logger.log(
        line(R"({"type":"webview/log","source":"s\n\u2028","message":"one\ntwo\r\nthree\u2028four"})"));
    logger.log(line(R"({"type":"webview/log","payload":{"a":"b\nc"}})"));
    EXPECT_EQ(test::readFile(dir / "pelko-webview.log"),
              "[2026-12-08T07:21:30.123Z] [s\\n\\u2028] [info] one\\ntwo\\r\\nthree\\u2028four\n"
              "[2026-12-08T07:21:30.123Z] [web] [info] {\"a\":\"b\\nc\"}\n");
}

TEST(WebViewLoggerTest, APayloadNestedDeeperThanTheBoundIsCutToANote) {
    auto line = [](std::size_t depth) {
        std::string text =
            R"({"type":"webview/log","payload":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
        return WebViewLogger::lineForMessage(*json::parse(text)).value();
    };
    EXPECT_EQ(line(2), "[web] [info] [[]]");
    const std::string cut = "[web] [info] <value nested deeper than 64 levels>";
    EXPECT_EQ(line(json::maxValueDepth + 1), cut);
    EXPECT_EQ(line(100'000), cut);
}

}  // namespace
}  // namespace pelko
