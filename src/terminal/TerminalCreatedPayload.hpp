#pragma once
// TerminalCreatedPayload: the "terminal/created" event, sent once a session's shell has started.
// Plain value; `toJson` writes the keys in field order.
#include <cstdint>
#include <string>

#include "platform/Json.hpp"

namespace pelko {

struct TerminalCreatedPayload {
    std::string sessionId;  // upper-case UUID text
    std::int32_t pid = 0;
    int cols = 0;
    int rows = 0;
    std::string title;             // as configured
    std::string workingDirectory;  // the folder the shell actually started in
    std::string shell;             // as configured

    Json toJson() const;
    friend bool operator==(const TerminalCreatedPayload&, const TerminalCreatedPayload&) = default;
};

}  // namespace pelko
