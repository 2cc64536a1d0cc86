#pragma once
// MessageRoutes: the one table from a page message's exact type to the handler of its subsystem.
// A subsystem's messages are parsed and handled in its own file (TerminalMessages, GitMessages, ...);
// adding a message type adds one row here. Built once, read-only afterwards.
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

class BridgeContext;

// Main thread. `payload` is the message's payload when it is an object, else nullptr.
using MessageHandler = void (*)(BridgeContext& context, const std::string& type, const Json* payload);

class MessageRoutes {
  public:
    // The handler for a type, or nullptr: unknown types are dropped.
    static MessageHandler handler(const std::string& type);
    // Every routed type, sorted.
    static std::vector<std::string> types();

  private:
    static const std::unordered_map<std::string, MessageHandler>& table();
};

}  // namespace pelko
