#pragma once
// GitMessages: the page's Git requests ("git/*"), read and passed to the Git service over
// GitServicing; malformed requests are dropped. Main thread. The Git events that the bridge relays
// to the page (GitServiceEventSink) are defined beside it.
#include <string>

#include "platform/Json.hpp"

namespace pelko {

class BridgeContext;

struct GitMessages {
    static void handle(BridgeContext& context, const std::string& type, const Json* payload);
};

}  // namespace pelko
