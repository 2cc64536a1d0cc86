#include "dashboard/GregorianCalendar.hpp"

#include <glib.h>

namespace pelko {

struct GregorianCalendar::Zone {
    GTimeZone* zone;
    explicit Zone(GTimeZone* z) : zone(z) {}
    ~Zone() { g_time_zone_unref(zone); }
    Zone(const Zone&) = delete;
    Zone& operator=(const Zone&) = delete;
};

namespace {

using DateTimePtr = std::unique_ptr<GDateTime, decltype(&g_date_time_unref)>;

DateTimePtr adopt(GDateTime* value) {
    return DateTimePtr(value, &g_date_time_unref);
}

std::int64_t floorSeconds(Date date) {
    std::int64_t ms = date.milliseconds();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

DateTimePtr localDateTime(GTimeZone* zone, Date date) {
    auto utc = adopt(g_date_time_new_from_unix_utc(floorSeconds(date)));
    if (!utc) return adopt(nullptr);
    return adopt(g_date_time_to_timezone(utc.get(), zone));
}

// The offset from UTC in seconds that the zone's clock shows at `instant` (Unix seconds).
std::int64_t offsetAt(GTimeZone* zone, std::int64_t instant) {
    return g_time_zone_get_offset(zone, g_time_zone_find_interval(zone, G_TIME_TYPE_UNIVERSAL, instant));
}

}  // namespace

GregorianCalendar GregorianCalendar::current() {
    return GregorianCalendar(std::make_shared<const Zone>(g_time_zone_new_local()));
}

std::optional<GregorianCalendar> GregorianCalendar::named(const std::string& identifier) {
    GTimeZone* zone = g_time_zone_new_identifier(identifier.c_str());
    if (!zone) return std::nullopt;
    return GregorianCalendar(std::make_shared<const Zone>(zone));
}

GregorianCalendar GregorianCalendar::utc() const {
    return GregorianCalendar(std::make_shared<const Zone>(g_time_zone_new_utc()));
}

Date GregorianCalendar::startOfDay(Date date) const {
    return this->date(day(date)).value_or(date);
}

std::optional<Date> GregorianCalendar::startOfDay(Date date, int days) const {
    auto local = localDateTime(zone_->zone, date);
    if (!local) return std::nullopt;
    int year = 0, month = 0, dayOfMonth = 0;
    g_date_time_get_ymd(local.get(), &year, &month, &dayOfMonth);
    // Calendar arithmetic in UTC, which has no clock changes to skip or repeat a day's midnight.
    auto midnight = adopt(g_date_time_new_utc(year, month, dayOfMonth, 0, 0, 0));
    if (!midnight) return std::nullopt;
    auto moved = adopt(g_date_time_add_days(midnight.get(), days));
    if (!moved) return std::nullopt;
    Day target;
    g_date_time_get_ymd(moved.get(), &target.year, &target.month, &target.day);
    return this->date(target);
}

GregorianCalendar::Day GregorianCalendar::day(Date date) const {
    Day result;
    if (auto local = localDateTime(zone_->zone, date)) {
        g_date_time_get_ymd(local.get(), &result.year, &result.month, &result.day);
    }
    return result;
}

std::optional<Date> GregorianCalendar::date(Day day) const {
    auto wallClock = adopt(g_date_time_new_utc(day.year, day.month, day.day, 0, 0, 0));
    if (!wallClock) return std::nullopt;
    // What the local clock reads at the day's midnight, as Unix seconds; the answer is the earliest
    // instant whose reading (instant plus its offset) reaches it.
    const std::int64_t midnight = g_date_time_to_unix(wallClock.get());
    GTimeZone* zone = zone_->zone;
    // Offsets stay within a day of UTC, so here the clock still reads the day before.
    std::int64_t instant = midnight - 26 * 60 * 60;
    // Each turn passes one change of offset; a day's start is never more than a few changes away.
    for (int changes = 0; changes < 8; ++changes) {
        const std::int64_t offset = offsetAt(zone, instant);
        const std::int64_t reading = midnight - offset;
        if (offsetAt(zone, reading) == offset) return Date::fromSeconds(reading);
        // The offset changes before its clock reaches midnight: find the instant it does.
        std::int64_t before = instant, after = reading;
        while (after - before > 1) {
            std::int64_t middle = before + (after - before) / 2;
            if (offsetAt(zone, middle) == offset) {
                before = middle;
            } else {
                after = middle;
            }
        }
        instant = after;
        if (instant + offsetAt(zone, instant) >= midnight) return Date::fromSeconds(instant);
    }
    return std::nullopt;
}

}  // namespace pelko
