// The sign-in status's "no expiry" rule is read in the local time zone: a token expiring in the last
// hours of 2099 UTC already lies in 2100 east of Greenwich. Each case sets TZ; the test restores it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

#include "bridge/WebBridge.hpp"

namespace pelko {
namespace {

TEST(SignInExpiryTimeZone, TheYear2100BeginsAtLocalMidnight) {
    struct Case {
        const char* zone;
        const char* expiresAt;
        bool nonExpiring;
    };
    const Case cases[] = {
        {"UTC0", "2099-12-31T23:59:59Z", false},  {"UTC0", "2100-01-01T00:00:00Z", true},
        {"JST-9", "2099-12-31T14:59:59Z", false},  // 23:59:59 on 31 December 2099 in Tokyo
        {"JST-9", "2099-12-31T15:00:00Z", true},   // midnight, 1 January 2100 in Tokyo
        {"EST5", "2100-01-01T04:59:59Z", false},   // still 2099 in New York
        {"EST5", "2100-01-01T05:00:00Z", true},
    };
    const char* current = ::getenv("TZ");
    const std::optional<std::string> previous = current ? std::optional<std::string>(current) : std::nullopt;
    for (const auto& c : cases) {
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        EXPECT_EQ(WebBridge::isNonExpiring(*Date::parseIso(c.expiresAt)), c.nonExpiring)
            << c.zone << " " << c.expiresAt;
    }
    if (previous)
        ::setenv("TZ", previous->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
}  // namespace pelko
