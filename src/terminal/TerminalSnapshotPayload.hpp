#pragma once
// TerminalSnapshotPayload: the "terminal/snapshot" event, one entry per configured CLI session in
// configuration order. `Session` is also the element of the configuration snapshot's `cliSessions`.
// Plain values; `toJson` writes the keys in field order and leaves absent optionals out.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

struct TerminalSnapshotPayload {
    struct Session {
        std::string id;  // upper-case UUID text
        std::string title;
        std::string workingDirectory;  // as configured, not expanded
        std::string status;            // "booting", "ready", "failed", "terminated", "pending", "unavailable"
        std::optional<std::string> projectId;
        std::optional<int> cols;
        std::optional<int> rows;
        std::optional<std::int32_t> pid;

        Json toJson() const;
        friend bool operator==(const Session&, const Session&) = default;
    };

    std::vector<Session> sessions;

    Json toJson() const;
    friend bool operator==(const TerminalSnapshotPayload&, const TerminalSnapshotPayload&) = default;
};

}  // namespace pelko
