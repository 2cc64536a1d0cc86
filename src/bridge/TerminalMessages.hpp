#pragma once
// TerminalMessages: the page's terminal requests ("terminal/*" and their "cli/*" aliases), read and
// passed to the terminal service; malformed requests are dropped. Main thread. The terminal events
// that the bridge relays to the page are defined beside it.
#include <string>

#include "platform/Json.hpp"

namespace pelko {

class BridgeContext;

struct TerminalMessages {
    static void handle(BridgeContext& context, const std::string& type, const Json* payload);
};

}  // namespace pelko
