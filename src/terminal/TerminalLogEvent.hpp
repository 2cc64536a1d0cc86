#pragma once
// TerminalLogEvent: one thing that happened in a terminal session, as handed to TerminalLogger.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Uuid.hpp"

namespace pelko {

struct TerminalLogEvent {
    enum class Event { spawn, ready, output, input, resize, signal, exit, error };

    Uuid sessionID;
    Event event = Event::error;
    std::optional<std::vector<std::uint8_t>> chunk;
    std::optional<std::string> message;
    std::optional<std::map<std::string, std::string>> metadata;

    // "spawn", "ready", "output", "input", "resize", "signal", "exit", "error".
    static const char* text(Event event);
};

}  // namespace pelko
