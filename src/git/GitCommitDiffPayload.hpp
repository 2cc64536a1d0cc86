#pragma once
// GitCommitDiffPayload: the "git/commit/diff" event, with GitCommitDiffFilePayload for one file.
// Plain values.
//
// JSON keys in field order: {"projectId", "commit" (trimmed), "files"}; each file {"commit", "path",
// "additions", "deletions", "isBinary", "patch" ("" in a summary), "resolved" (true for a patch
// request, false for a summary entry)}. No key is optional.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

struct GitCommitDiffFilePayload {
    std::string commit;
    std::string path;
    std::int64_t additions = 0;
    std::int64_t deletions = 0;
    bool isBinary = false;
    std::string patch;
    bool resolved = false;

    Json toJson() const;
    friend bool operator==(const GitCommitDiffFilePayload&, const GitCommitDiffFilePayload&) = default;
};

struct GitCommitDiffPayload {
    std::string projectId;
    std::string commit;
    std::vector<GitCommitDiffFilePayload> files;

    Json toJson() const;
    friend bool operator==(const GitCommitDiffPayload&, const GitCommitDiffPayload&) = default;
};

}  // namespace pelko
