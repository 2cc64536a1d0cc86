#include <gtest/gtest.h>

#include "app/WebProcessCrashRecovery.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

TEST(WebProcessCrashRecoveryTest, ReloadsAtMostThreeTimesInAnyMinute) {
    WebProcessCrashRecovery recovery;
    const auto start = WebProcessCrashRecovery::Clock::time_point{} + 1000s;
    EXPECT_TRUE(recovery.shouldReload(start));
    EXPECT_TRUE(recovery.shouldReload(start + 1s));
    EXPECT_TRUE(recovery.shouldReload(start + 2s));
    EXPECT_FALSE(recovery.shouldReload(start + 3s));
    EXPECT_FALSE(recovery.shouldReload(start + 59s));
    // The first reload leaves the window: one more fits, and a refused crash used none of the budget.
    EXPECT_TRUE(recovery.shouldReload(start + 60s));
    EXPECT_FALSE(recovery.shouldReload(start + 60s));
    EXPECT_TRUE(recovery.shouldReload(start + 61s));
}

}  // namespace
}  // namespace pelko
