#pragma once
// Date: a point in time as 64-bit milliseconds since 1970-01-01T00:00:00Z (a nanosecond
// system_clock overflows in 2262; the "distant future" is the year 4001).
//
// Formatting is always UTC: whole seconds "2024-05-01T12:00:00Z", milliseconds
// "2024-05-01T12:00:00.123Z". Parsing accepts ISO 8601 with "Z" or a "+hh:mm"/"-hh:mm" offset and an
// optional fraction of any length (kept to milliseconds); anything else is rejected.
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

class Date {
  public:
    constexpr Date() = default;
    static constexpr Date fromMilliseconds(std::int64_t ms) { return Date(ms); }
    static constexpr Date fromSeconds(std::int64_t s) { return Date(s * 1000); }
    static Date now();
    // 4001-01-01T00:00:00Z
    static constexpr Date distantFuture() { return Date(64092211200LL * 1000); }

    constexpr std::int64_t milliseconds() const { return ms_; }
    constexpr std::int64_t seconds() const { return ms_ >= 0 ? ms_ / 1000 : -((-ms_ + 999) / 1000); }
    // Gregorian year in UTC.
    int year() const;

    std::string isoSeconds() const;       // "...T12:00:00Z"
    std::string isoMilliseconds() const;  // "...T12:00:00.123Z" (also the "fractional seconds" form)
    static std::optional<Date> parseIso(std::string_view text);

    friend constexpr bool operator==(const Date&, const Date&) = default;
    friend constexpr std::strong_ordering operator<=>(const Date& a, const Date& b) {
        return a.ms_ <=> b.ms_;
    }

  private:
    constexpr explicit Date(std::int64_t ms) : ms_(ms) {}
    std::int64_t ms_ = 0;
};

}  // namespace pelko
