#pragma once
// AnalyticsMessages: the page's "analytics/event", passed to the analytics logger with its
// properties; an event without a name is dropped. Main thread.
#include <string>

#include "platform/Json.hpp"

namespace pelko {

class BridgeContext;

struct AnalyticsMessages {
    static void handle(BridgeContext& context, const std::string& type, const Json* payload);
};

}  // namespace pelko
