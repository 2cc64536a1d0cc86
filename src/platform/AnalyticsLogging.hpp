#pragma once
// AnalyticsLogging: where analytics events go (the system log; nothing leaves the machine).
//
// Callable from any thread; never fails and never blocks on the main thread. An event is a name and a
// property map; each value is a Boolean, text, a signed 64-bit integer, a double, or any other JSON
// value, which is written by its textual (JSON) form. The implementation sorts the rendered
// properties, so the map's order does not matter.
#include <cstdint>
#include <map>
#include <string>
#include <variant>

#include "platform/Json.hpp"

namespace pelko {

using AnalyticsValue = std::variant<bool, std::string, std::int64_t, double, Json>;
using AnalyticsProperties = std::map<std::string, AnalyticsValue>;

class AnalyticsLogging {
  public:
    virtual ~AnalyticsLogging() = default;
    virtual void log(const std::string& event, const AnalyticsProperties& properties) = 0;
};

}  // namespace pelko
