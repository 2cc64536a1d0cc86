#include "app/AnalyticsLogger.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "platform/LogLineText.hpp"

namespace pelko {
namespace {

std::string describeDouble(double value) {
    std::string text = fmt::format("{}", value);
    bool whole =
        std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; });
    if (whole) text += ".0";
    return text;
}

}  // namespace

AnalyticsLogger::AnalyticsLogger(SystemLogger logger) : logger_(std::move(logger)) {}

std::string AnalyticsLogger::describe(const AnalyticsValue& value) {
    struct Visitor {
        std::string operator()(bool v) const { return v ? "true" : "false"; }
        std::string operator()(const std::string& v) const { return LogLineText::escaped(v); }
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(double v) const { return describeDouble(v); }
        std::string operator()(const Json& v) const {
            return LogLineText::escapedJson(v.dump(-1, ' ', false, Json::error_handler_t::replace));
        }
    };
    return std::visit(Visitor{}, value);
}

std::string AnalyticsLogger::entryText(const std::string& event, const AnalyticsProperties& properties) {
    const std::string name = LogLineText::escaped(event);
    if (properties.empty()) return "event=" + name;
    std::vector<std::string> rendered;
    rendered.reserve(properties.size());
    for (const auto& [key, value] : properties)
        rendered.push_back(LogLineText::escaped(key) + "=" + describe(value));
    std::sort(rendered.begin(), rendered.end());
    std::string joined;
    for (const auto& item : rendered) {
        if (!joined.empty()) joined += ", ";
        joined += item;
    }
    return "event=" + name + " properties=" + joined;
}

void AnalyticsLogger::log(const std::string& event, const AnalyticsProperties& properties) {
    logger_.info(entryText(event, properties));
}

}  // namespace pelko
