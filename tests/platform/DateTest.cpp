#include <gtest/gtest.h>

#include "platform/Date.hpp"

namespace pelko {
namespace {

TEST(DateTest, FormatsUtcWithSecondsAndMilliseconds) {
    EXPECT_EQ(Date::fromSeconds(0).isoSeconds(), "1970-01-01T00:00:00Z");
    EXPECT_EQ(Date::fromSeconds(1714564800).isoSeconds(), "2024-05-01T12:00:00Z");
    EXPECT_EQ(Date::fromMilliseconds(1714564800123).isoMilliseconds(), "2024-05-01T12:00:00.123Z");
    EXPECT_EQ(Date::fromMilliseconds(1714564800123).isoSeconds(), "2024-05-01T12:00:00Z");
    EXPECT_EQ(Date::fromSeconds(951782400).isoSeconds(), "2000-02-29T00:00:00Z");
    EXPECT_EQ(Date::fromSeconds(-62135596800).isoSeconds(), "0001-01-01T00:00:00Z");
}

TEST(DateTest, DatesBefore1970RoundDown) {
    Date justBefore = Date::fromMilliseconds(-1);
    EXPECT_EQ(justBefore.isoMilliseconds(), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(justBefore.isoSeconds(), "1969-12-31T23:59:59Z");
    EXPECT_EQ(justBefore.seconds(), -1);
    EXPECT_EQ(justBefore.year(), 1969);
    EXPECT_EQ(Date::fromMilliseconds(-1000).seconds(), -1);
    EXPECT_EQ(Date::fromMilliseconds(-1001).seconds(), -2);
}

TEST(DateTest, DistantFutureIsYear4001) {
    Date future = Date::distantFuture();
    EXPECT_EQ(future.isoSeconds(), "4001-01-01T00:00:00Z");
    EXPECT_EQ(future.year(), 4001);
    EXPECT_EQ(Date::parseIso("4001-01-01T00:00:00Z"), future);
    EXPECT_EQ(Date::parseIso("4001-01-01T00:00:00.000Z"), future);
    EXPECT_LT(Date::now(), future);
}

TEST(DateTest, ParsesOffsetsAndFractions) {
    Date noon = Date::fromSeconds(1714564800);
    EXPECT_EQ(Date::parseIso("2024-05-01T12:00:00Z"), noon);
    EXPECT_EQ(Date::parseIso("2024-05-01T14:00:00+02:00"), noon);
    EXPECT_EQ(Date::parseIso("2024-05-01T06:30:00-05:30"), noon);
    EXPECT_EQ(Date::parseIso("2024-05-01T12:00:00+00:00"), noon);
    EXPECT_EQ(Date::parseIso("2024-05-01T12:00:00.5Z"), Date::fromMilliseconds(1714564800500));
    EXPECT_EQ(Date::parseIso("2024-05-01T12:00:00.123456789Z"), Date::fromMilliseconds(1714564800123));
    EXPECT_EQ(Date::parseIso("2024-05-01T14:00:00.25+02:00"), Date::fromMilliseconds(1714564800250));
    EXPECT_EQ(Date::parseIso("1969-12-31T23:59:59.999Z"), Date::fromMilliseconds(-1));
    EXPECT_EQ(Date::parseIso("2000-02-29T00:00:00Z"), Date::fromSeconds(951782400));
}

TEST(DateTest, RoundTripsItsOwnOutput) {
    for (std::int64_t ms : {0LL, -1LL, 1714564800123LL, -62135596800000LL, 64092211199999LL}) {
        Date date = Date::fromMilliseconds(ms);
        EXPECT_EQ(Date::parseIso(date.isoMilliseconds()), date) << ms;
    }
}

TEST(DateTest, RejectsAnythingElse) {
    for (const char* text : {"",
                             "2024-05-01",
                             "2024-05-01T12:00:00",
                             "2024-05-01 12:00:00Z",
                             "2024-5-01T12:00:00Z",
                             "2024-05-01T12:00Z",
                             "2024-05-01T24:00:00Z",
                             "2024-05-01T12:60:00Z",
                             "2024-05-01T12:00:60Z",
                             "2024-13-01T12:00:00Z",
                             "2024-00-01T12:00:00Z",
                             "2023-02-29T12:00:00Z",
                             "1900-02-29T00:00:00Z",
                             "2024-04-31T00:00:00Z",
                             "2024-05-01T12:00:00.Z",
                             "2024-05-01T12:00:00+0200",
                             "2024-05-01T12:00:00+02",
                             "2024-05-01T12:00:00+24:00",
                             "2024-05-01T12:00:00Zjunk",
                             "2024-05-01t12:00:00z",
                             "+2024-05-01T12:00:00Z",
                             "2024-05-01T12:00:00.12a Z"}) {
        EXPECT_FALSE(Date::parseIso(text)) << text;
    }
}

}  // namespace
}  // namespace pelko
