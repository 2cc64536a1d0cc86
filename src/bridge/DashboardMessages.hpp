#pragma once
// DashboardMessages: the page's "dashboard.present" and "dashboard.dismiss", passed to the dashboard
// controller (DashboardControlling) on a later turn of the main queue. Main thread. The dashboard and
// system-metrics events that the bridge relays to the page are defined beside it.
#include <string>

#include "platform/Json.hpp"

namespace pelko {

class BridgeContext;

struct DashboardMessages {
    static void handle(BridgeContext& context, const std::string& type, const Json* payload);
};

}  // namespace pelko
