#pragma once
// GitStatusDetailMapper: turns `git status --porcelain --branch` (version 1) output into the status
// detail's components, and a list of changes into a tree of GitChangeTreeNode. Pure and stateless;
// safe from any thread. Paths come out unquoted: what the file system calls them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "git/GitChangeTreeNode.hpp"

namespace pelko {

struct GitStatusDetailComponents {
    struct Change {
        std::string path;
        std::string status;  // "added", "modified", "deleted", "renamed", "copied", "untracked"

        friend bool operator==(const Change&, const Change&) = default;
    };

    std::string branch = "--";
    std::int64_t ahead = 0;
    std::int64_t behind = 0;
    std::optional<std::string> remote;
    std::vector<Change> staged;
    std::vector<Change> unstaged;
    std::vector<Change> untracked;
};

class GitStatusDetailMapper {
  public:
    // The "## " line's text: the branch, its upstream, and the ahead and behind counts (0 when missing).
    struct BranchLine {
        std::string branch;
        std::optional<std::string> remote;
        std::int64_t ahead = 0;
        std::int64_t behind = 0;
    };

    GitStatusDetailComponents parse(std::string_view statusOutput) const;
    // Folders first, then files; each group by case-insensitive comparison in the user's locale.
    std::vector<GitChangeTreeNode> buildTree(
        const std::vector<GitStatusDetailComponents::Change>& changes) const;

    // The path part of a porcelain v1 line (after "XY "): the source and the destination, both
    // unquoted; the same path twice when the line is no rename or copy.
    static std::pair<std::string, std::string> splitPaths(std::string_view rest);
    static BranchLine parseBranchLine(std::string_view summary);
};

}  // namespace pelko
