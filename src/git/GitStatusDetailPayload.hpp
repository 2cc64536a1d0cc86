#pragma once
// GitStatusDetailPayload: the "git/status/detail" event. Plain value.
//
// JSON keys in field order: "projectId" (upper-case UUID), "branch" ("--" when unknown), "headSha"
// ("--" without a commit), "ahead", "behind", "remote" (left out when absent), "staged", "unstaged",
// "untracked" (change trees).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "git/GitChangeTreeNode.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct GitStatusDetailPayload {
    std::string projectId;
    std::string branch;
    std::string headSha;
    std::int64_t ahead = 0;
    std::int64_t behind = 0;
    std::optional<std::string> remote;
    std::vector<GitChangeTreeNode> staged;
    std::vector<GitChangeTreeNode> unstaged;
    std::vector<GitChangeTreeNode> untracked;

    Json toJson() const;
    friend bool operator==(const GitStatusDetailPayload&, const GitStatusDetailPayload&) = default;
};

}  // namespace pelko
