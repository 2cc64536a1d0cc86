#pragma once
// GregorianCalendar: local days of one time zone (the system's, or a named one), over GLib's time-zone
// database. Day boundaries follow the zone's rules, daylight-saving changes included.
//
// Immutable after construction and cheap to copy; safe from any thread. Operations that cannot form a
// date (out of the representable range) yield nothing instead of a wrong date.
#include <memory>
#include <optional>
#include <string>

#include "platform/Date.hpp"

namespace pelko {

class GregorianCalendar {
  public:
    struct Day {
        int year = 1970;
        int month = 1;
        int day = 1;
        friend bool operator==(const Day&, const Day&) = default;
    };

    // The system's current time zone.
    static GregorianCalendar current();
    // A zone by its identifier ("Asia/Tokyo", "UTC", "+09:00"); nothing when it is unknown.
    static std::optional<GregorianCalendar> named(const std::string& identifier);
    // The same calendar with the time zone UTC.
    GregorianCalendar utc() const;

    // The first instant of the local day containing `date`.
    Date startOfDay(Date date) const;
    // The first instant of the local day `days` calendar days after the one containing `date`.
    std::optional<Date> startOfDay(Date date, int days) const;
    // The local calendar date of `date`.
    Day day(Date date) const;
    // The first instant whose local date is `day`: where the clock goes back over midnight, the first
    // of its two midnights; where midnight is skipped, the instant the clock jumps past it.
    std::optional<Date> date(Day day) const;

  private:
    struct Zone;
    explicit GregorianCalendar(std::shared_ptr<const Zone> zone) : zone_(std::move(zone)) {}
    std::shared_ptr<const Zone> zone_;
};

}  // namespace pelko
