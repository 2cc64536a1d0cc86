#include "bridge/AnalyticsMessages.hpp"

#include "bridge/BridgeContext.hpp"

namespace pelko {

namespace {

// The analytics properties of a page event: empty unless `properties` is an object. A value nested
// deeper than json::maxValueDepth is left out: the logger copies and prints values recursively.
AnalyticsProperties analyticsProperties(const Json* properties) {
    AnalyticsProperties result;
    if (!properties || !properties->is_object()) return result;
    for (const auto& [key, value] : properties->items()) {
        if (value.is_boolean()) {
            result.emplace(key, value.get<bool>());
        } else if (value.is_string()) {
            result.emplace(key, value.get<std::string>());
        } else if (value.is_number_integer() && !value.is_number_unsigned()) {
            result.emplace(key, value.get<std::int64_t>());
        } else if (value.is_number_unsigned()) {
            auto number = value.get<std::uint64_t>();
            if (number <= static_cast<std::uint64_t>(INT64_MAX)) {
                result.emplace(key, static_cast<std::int64_t>(number));
            } else {
                result.emplace(key, static_cast<double>(number));
            }
        } else if (value.is_number_float()) {
            result.emplace(key, value.get<double>());
        } else if (!json::nestsDeeperThan(value, json::maxValueDepth)) {
            result.emplace(key, value);
        }
    }
    return result;
}

}  // namespace

void AnalyticsMessages::handle(BridgeContext& context, const std::string&, const Json* payload) {
    if (!context.analyticsLogger) return;
    auto name = json::stringField(payload, "name");
    if (!name || name->empty()) return;
    context.analyticsLogger->log(*name, analyticsProperties(json::field(payload, "properties")));
}

}  // namespace pelko
