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

// The sub-second part that GDateTime (whole seconds here) does not carry.
std::int64_t millisecondRemainder(Date date) {
    return date.milliseconds() - floorSeconds(date) * 1000;
}

DateTimePtr localDateTime(GTimeZone* zone, Date date) {
    auto utc = adopt(g_date_time_new_from_unix_utc(floorSeconds(date)));
    if (!utc) return adopt(nullptr);
    return adopt(g_date_time_to_timezone(utc.get(), zone));
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
    auto local = localDateTime(zone_->zone, date);
    if (!local) return date;
    int year = 0, month = 0, day = 0;
    g_date_time_get_ymd(local.get(), &year, &month, &day);
    return this->date(Day{year, month, day}).value_or(date);
}

std::optional<Date> GregorianCalendar::addingDays(Date date, int days) const {
    auto local = localDateTime(zone_->zone, date);
    if (!local) return std::nullopt;
    auto moved = adopt(g_date_time_add_days(local.get(), days));
    if (!moved) return std::nullopt;
    return Date::fromMilliseconds(g_date_time_to_unix(moved.get()) * 1000 + millisecondRemainder(date));
}

GregorianCalendar::Day GregorianCalendar::day(Date date) const {
    Day result;
    if (auto local = localDateTime(zone_->zone, date)) {
        g_date_time_get_ymd(local.get(), &result.year, &result.month, &result.day);
    }
    return result;
}

std::optional<Date> GregorianCalendar::date(Day day) const {
    // A midnight skipped by a daylight-saving change resolves to the day's first existing instant.
    auto midnight = adopt(g_date_time_new(zone_->zone, day.year, day.month, day.day, 0, 0, 0));
    if (!midnight) return std::nullopt;
    return Date::fromSeconds(g_date_time_to_unix(midnight.get()));
}

}  // namespace pelko
