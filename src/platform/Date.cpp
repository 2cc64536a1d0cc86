#include "platform/Date.hpp"

#include <fmt/format.h>

#include <chrono>

namespace pelko {

namespace {

struct Civil {
    std::int64_t year;
    int month;
    int day;
};

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Days since 1970-01-01 in the proleptic Gregorian calendar (H. Hinnant's days-from-civil).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    std::int64_t era = floorDiv(y, 400);
    std::int64_t yoe = y - era * 400;
    std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Civil civilFromDays(std::int64_t z) {
    z += 719468;
    std::int64_t era = floorDiv(z, 146097);
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2), month, day};
}

bool isLeap(std::int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(std::int64_t y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

std::string format(std::int64_t ms, bool withMilliseconds) {
    std::int64_t days = floorDiv(ms, 86'400'000);
    std::int64_t inDay = ms - days * 86'400'000;
    Civil civil = civilFromDays(days);
    std::int64_t second = inDay / 1000;
    std::string text = fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", civil.year, civil.month, civil.day,
                                   second / 3600, second / 60 % 60, second % 60);
    if (withMilliseconds) text += fmt::format(".{:03}", inDay % 1000);
    text += 'Z';
    return text;
}

// Reads exactly `count` decimal digits at `pos`.
bool readDigits(std::string_view text, std::size_t& pos, std::size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

Date Date::now() {
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return fromMilliseconds(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

int Date::year() const {
    return static_cast<int>(civilFromDays(floorDiv(ms_, 86'400'000)).year);
}

std::string Date::isoSeconds() const {
    return format(ms_, false);
}

std::string Date::isoMilliseconds() const {
    return format(ms_, true);
}

std::optional<Date> Date::parseIso(std::string_view text) {
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, pos, 4, year) || !expect(text, pos, '-') || !readDigits(text, pos, 2, month) ||
        !expect(text, pos, '-') || !readDigits(text, pos, 2, day) || !expect(text, pos, 'T') ||
        !readDigits(text, pos, 2, hour) || !expect(text, pos, ':') || !readDigits(text, pos, 2, minute) ||
        !expect(text, pos, ':') || !readDigits(text, pos, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return std::nullopt;
    }
    std::int64_t fraction = 0;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        std::size_t start = pos;
        std::int64_t scale = 100;
        for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
            fraction += (text[pos] - '0') * scale;
            scale /= 10;
        }
        if (pos == start) return std::nullopt;
    }
    std::int64_t offsetMinutes = 0;
    if (pos < text.size() && text[pos] == 'Z') {
        ++pos;
    } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        std::int64_t sign = text[pos] == '-' ? -1 : 1;
        ++pos;
        int offsetHours = 0, offsetMins = 0;
        if (!readDigits(text, pos, 2, offsetHours) || !expect(text, pos, ':') ||
            !readDigits(text, pos, 2, offsetMins) || offsetHours > 23 || offsetMins > 59) {
            return std::nullopt;
        }
        offsetMinutes = sign * (offsetHours * 60 + offsetMins);
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;
    std::int64_t seconds = daysFromCivil(year, month, day) * 86400 + std::int64_t{hour} * 3600 +
                           std::int64_t{minute} * 60 + second;
    return fromMilliseconds((seconds - offsetMinutes * 60) * 1000 + fraction);
}

}  // namespace pelko
