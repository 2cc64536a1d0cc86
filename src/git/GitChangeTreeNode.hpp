#pragma once
// GitChangeTreeNode: one node of a change tree of "git/status/detail": a path component with its
// status word and, for a folder, its children. Plain value.
//
// JSON keys in field order: "path" (the node's own name), "status", "children" (left out when absent).
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

struct GitChangeTreeNode {
    std::string path;
    std::string status;
    std::optional<std::vector<GitChangeTreeNode>> children;

    Json toJson() const;
    friend bool operator==(const GitChangeTreeNode&, const GitChangeTreeNode&) = default;
};

}  // namespace pelko
