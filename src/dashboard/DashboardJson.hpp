#pragma once
// Date fields of the dashboard's payload records: written as ISO 8601 in UTC with whole seconds,
// read in any ISO 8601 form that Date::parseIso accepts.
#include <optional>
#include <string_view>

#include "platform/Date.hpp"
#include "platform/Json.hpp"

namespace pelko::dashboard_json {

// Missing or null -> nullopt; not a string or not a date -> DecodeError.
std::optional<Date> optDate(const Json& object, std::string_view key);
// Missing, null, not a string or not a date -> DecodeError.
Date reqDate(const Json& object, std::string_view key);

}  // namespace pelko::dashboard_json
