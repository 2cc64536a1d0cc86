#pragma once
// GitBranchAnalysisUnmerged: the commits of all branches that the base lacks, with their parents, from
// one `git rev-list --parents <branches> --not <base>`. From it, for any tip, how many commits the base
// lacks (ahead) and which base commits that work grew from (the boundary: its parents in the base's
// history), whose newest is where the branch left the base. A plain value, used on one thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pelko {

class GitBranchAnalysisUnmerged {
  public:
    static GitBranchAnalysisUnmerged parse(std::string_view output);

    struct Reach {
        std::int64_t ahead = 0;
        // Sorted, without repeats; empty for a history that shares nothing with the base.
        std::vector<std::string> boundary;
        // The tip is the only commit the base lacks and has a single parent.
        bool singleCommit = false;
    };

    // nullopt when the tip is in the base's history (nothing is ahead), or when `work` (commits and
    // parents visited, added up over calls) would pass `maxWork`.
    std::optional<Reach> reach(const std::string& tip, std::size_t& work, std::size_t maxWork) const;
    bool lacks(const std::string& sha) const;

  private:
    std::unordered_map<std::string, std::uint32_t> index_;
    std::vector<std::string_view> shas_;
    // Parents of commit i are parents_[offsets_[i] … offsets_[i + 1]); only the listed commits have any.
    std::vector<std::uint32_t> offsets_;
    std::vector<std::uint32_t> parents_;
    std::vector<bool> listed_;
    mutable std::vector<std::uint32_t> seen_;
    mutable std::uint32_t stamp_ = 0;
};

}  // namespace pelko
