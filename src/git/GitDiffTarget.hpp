#pragma once
// GitDiffTarget: one file the page asks to diff, seen from one GitDiffStage: "staged" (the index
// against HEAD), "unstaged" (the working tree against the index) or "head" (the working tree against
// HEAD). An empty path means the whole repository. Plain values.
#include <string>
#include <string_view>

namespace pelko {

enum class GitDiffStage { staged, unstaged, head };

// "staged", "unstaged" or "head".
std::string_view gitDiffStageName(GitDiffStage stage);

struct GitDiffTarget {
    std::string path;
    GitDiffStage stage = GitDiffStage::unstaged;

    friend bool operator==(const GitDiffTarget&, const GitDiffTarget&) = default;
};

}  // namespace pelko
