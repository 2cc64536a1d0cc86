#include <gtest/gtest.h>

#include "app/AnalyticsLogger.hpp"

namespace pelko {
namespace {

TEST(AnalyticsLoggerTest, EntryFormat) {
    EXPECT_EQ(AnalyticsLogger::entryText("dashboard_opened", {}), "event=dashboard_opened");
    EXPECT_EQ(AnalyticsLogger::entryText("dashboard_opened", {{"source", std::string("native")}}),
              "event=dashboard_opened properties=source=native");
    AnalyticsProperties mixed{{"b", std::int64_t{2}}, {"a", true}, {"a_b", 1.5}};
    EXPECT_EQ(AnalyticsLogger::entryText("x", mixed), "event=x properties=a=true, a_b=1.5, b=2");
    EXPECT_EQ(AnalyticsLogger::entryText("", {}), "event=");
}

TEST(AnalyticsLoggerTest, ValueDescriptions) {
    EXPECT_EQ(AnalyticsLogger::describe(2.0), "2.0");
    EXPECT_EQ(AnalyticsLogger::describe(-3.0), "-3.0");
    EXPECT_EQ(AnalyticsLogger::describe(0.1), "0.1");
    EXPECT_EQ(AnalyticsLogger::describe(std::int64_t{-7}), "-7");
    EXPECT_EQ(AnalyticsLogger::describe(false), "false");
    EXPECT_EQ(AnalyticsLogger::describe(std::string("a, b=c")), "a, b=c");
    EXPECT_EQ(AnalyticsLogger::describe(Json::array({1, "x"})), "[1,\"x\"]");
}

TEST(AnalyticsLoggerTest, ThePagesTextNeverBreaksTheEntry) {
    // A page could otherwise start what reads as an entry of its own where the log is plain lines.
    AnalyticsProperties forged{{"k\nevent=forged", std::string("a\r\nb\u2028c\\n")},
                               {"j", Json::array({"x\u2029y\x1b"})}};
    EXPECT_EQ(AnalyticsLogger::entryText("opened\nevent=forged", forged),
              "event=opened\\nevent=forged properties=j=[\"x\\u2029y\\u001b\"], "
              "k\\nevent=forged=a\\r\\nb\\u2028c\\\\n");
}

TEST(AnalyticsLoggerTest, WritesOneInfoEntryToItsChannel) {
    LogCapture capture;
    AnalyticsLogger logger;
    logger.log("column_pinch_gesture", {{"direction", std::string("expand")}, {"magnitude", 0.25}});
    auto entries = capture.entries("app.pelko.analytics", "events");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, LogLevel::info);
    EXPECT_EQ(entries[0].message, "event=column_pinch_gesture properties=direction=expand, magnitude=0.25");
}

}  // namespace
}  // namespace pelko
