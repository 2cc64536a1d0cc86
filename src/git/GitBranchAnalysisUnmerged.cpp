#include "git/GitBranchAnalysisUnmerged.hpp"

#include <algorithm>

#include "git/GitOutputText.hpp"

namespace pelko {

GitBranchAnalysisUnmerged GitBranchAnalysisUnmerged::parse(std::string_view output) {
    GitBranchAnalysisUnmerged walk;
    auto lines = GitOutputText::nonEmptyLines(output);
    auto indexOf = [&](std::string_view sha) {
        auto [found, added] =
            walk.index_.emplace(std::string(sha), static_cast<std::uint32_t>(walk.shas_.size()));
        if (added) walk.shas_.push_back(found->first);
        return found->second;
    };
    std::vector<std::vector<std::string_view>> fields;
    fields.reserve(lines.size());
    for (auto line : lines) {
        fields.push_back(GitOutputText::split(GitOutputText::trim(line), " "));
        indexOf(fields.back().front());
    }
    const std::size_t listed = walk.shas_.size();
    walk.offsets_.assign(listed + 1, 0);
    std::vector<std::vector<std::uint32_t>> parents(listed);
    for (const auto& line : fields) {
        std::uint32_t commit = walk.index_.find(std::string(line.front()))->second;
        for (std::size_t field = 1; field < line.size(); ++field) {
            if (!line[field].empty()) parents[commit].push_back(indexOf(line[field]));
        }
    }
    for (std::size_t commit = 0; commit < listed; ++commit) {
        walk.offsets_[commit + 1] =
            walk.offsets_[commit] + static_cast<std::uint32_t>(parents[commit].size());
        walk.parents_.insert(walk.parents_.end(), parents[commit].begin(), parents[commit].end());
    }
    walk.listed_.assign(walk.shas_.size(), false);
    std::fill(walk.listed_.begin(), walk.listed_.begin() + static_cast<std::ptrdiff_t>(listed), true);
    walk.seen_.assign(walk.shas_.size(), 0);
    return walk;
}

bool GitBranchAnalysisUnmerged::lacks(const std::string& sha) const {
    auto found = index_.find(sha);
    return found != index_.end() && listed_[found->second];
}

std::optional<GitBranchAnalysisUnmerged::Reach> GitBranchAnalysisUnmerged::reach(const std::string& tip,
                                                                                 std::size_t& work,
                                                                                 std::size_t maxWork) const {
    auto found = index_.find(tip);
    if (found == index_.end() || !listed_[found->second]) return std::nullopt;
    ++stamp_;
    Reach result;
    std::vector<std::uint32_t> stack{found->second};
    seen_[found->second] = stamp_;
    while (!stack.empty()) {
        std::uint32_t commit = stack.back();
        stack.pop_back();
        ++result.ahead;
        for (std::uint32_t at = offsets_[commit]; at < offsets_[commit + 1]; ++at) {
            if (++work > maxWork) return std::nullopt;
            std::uint32_t parent = parents_[at];
            if (seen_[parent] == stamp_) continue;
            seen_[parent] = stamp_;
            if (listed_[parent]) {
                stack.push_back(parent);
            } else {
                result.boundary.emplace_back(shas_[parent]);
            }
        }
    }
    std::sort(result.boundary.begin(), result.boundary.end());
    std::uint32_t tipCommit = found->second;
    result.singleCommit = result.ahead == 1 && offsets_[tipCommit + 1] - offsets_[tipCommit] == 1;
    return result;
}

}  // namespace pelko
