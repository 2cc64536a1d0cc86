#pragma once
// ExplorerDirectorySnapshot: one requested folder of a listing with its direct children.
//
// JSON keys in order: "path", "nodes", "error" (left out on success). `nodes` is empty whenever
// `error` is set. `path` is the normalized relative path (empty for the root) on success and for
// "unreadable", the path exactly as requested for "invalidPath", "excluded" and "notFound".
#include <optional>
#include <string>
#include <vector>

#include "explorer/ExplorerNodePayload.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct ExplorerDirectorySnapshot {
    std::string path;
    std::vector<ExplorerNodePayload> nodes;
    std::optional<std::string> error;

    Json toJson() const;
    // Strict: a missing or mistyped key throws DecodeError.
    static ExplorerDirectorySnapshot fromJson(const Json& object);

    friend bool operator==(const ExplorerDirectorySnapshot&, const ExplorerDirectorySnapshot&) = default;
};

}  // namespace pelko
