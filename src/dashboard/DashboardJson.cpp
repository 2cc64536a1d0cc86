#include "dashboard/DashboardJson.hpp"

#include <string>

namespace pelko::dashboard_json {

std::optional<Date> optDate(const Json& object, std::string_view key) {
    auto text = json::optString(object, key);
    if (!text) return std::nullopt;
    auto date = Date::parseIso(*text);
    if (!date) throw DecodeError("\"" + std::string(key) + "\" is not an ISO 8601 date");
    return date;
}

Date reqDate(const Json& object, std::string_view key) {
    auto date = optDate(object, key);
    if (!date) throw DecodeError("missing \"" + std::string(key) + "\"");
    return *date;
}

}  // namespace pelko::dashboard_json
