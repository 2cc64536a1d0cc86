#pragma once
// GitDiffPayload: the "git/diff" event, with GitDiffFilePayload for one file. Plain values.
//
// JSON keys in field order: {"projectId", "files"}; each file {"path" ("." for the whole repository),
// "stage" ("staged", "unstaged", "head"), "additions", "deletions", "isBinary", "patch" (git's
// output untouched)}. No key is optional.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "git/GitDiffTarget.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct GitDiffFilePayload {
    std::string path;
    GitDiffStage stage = GitDiffStage::unstaged;
    std::int64_t additions = 0;
    std::int64_t deletions = 0;
    bool isBinary = false;
    std::string patch;

    Json toJson() const;
    friend bool operator==(const GitDiffFilePayload&, const GitDiffFilePayload&) = default;
};

struct GitDiffPayload {
    std::string projectId;
    std::vector<GitDiffFilePayload> files;

    Json toJson() const;
    friend bool operator==(const GitDiffPayload&, const GitDiffPayload&) = default;
};

}  // namespace pelko
