#pragma once
// GitWorkingTreeEntry: one parsed line of `git status --porcelain=v2`. Plain value; paths are the
// file system's (git's quoting undone).
#include <cstdint>
#include <optional>
#include <string>

namespace pelko {

struct GitWorkingTreeEntry {
    std::string path;
    std::optional<std::string> oldPath;         // source of a rename or copy
    std::optional<std::string> stagedStatus;    // status word of the index side
    std::optional<std::string> unstagedStatus;  // status word of the working-tree side
    bool isUntracked = false;
    bool intentToAdd = false;
    std::optional<std::int64_t> renameScore;
    bool isConflicted = false;

    friend bool operator==(const GitWorkingTreeEntry&, const GitWorkingTreeEntry&) = default;
};

}  // namespace pelko
