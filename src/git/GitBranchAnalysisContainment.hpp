#pragma once
// GitBranchAnalysisContainment: which branch tips lie in which branches' histories, for every branch at
// once, from one walk of the commit graph reduced to the commits branches point at. Holds one bit per
// branch for each of those commits (a few MB for ten thousand branches, bounded by the caller), and
// answers the parent estimate of one branch from it. A plain value, used on one thread.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "git/GitBranchAnalysis.hpp"

namespace pelko {

class GitBranchAnalysisContainment {
  public:
    // `graph`: lines "<commit> <parent>…" in topological order, children first, whose parents keep
    // every ancestry among the listed commits (`git log --simplify-by-decoration --format=%H %P`).
    // nullopt when the table would need more than `maxBits`.
    static std::optional<GitBranchAnalysisContainment> build(std::string_view graph,
                                                             const GitBranchAnalysis::BranchRefs& refs,
                                                             std::size_t maxBits);

    // The parent of branch `branch` (not the base): among the branches whose tips lie in its history
    // (itself and the base left out), the one holding most of the others in its own history, the
    // newest date of equals, the first of those in ref order; the base, "confirmed", when there is
    // none. `work` counts table words and candidates looked at; nullopt once it would pass `maxWork`.
    std::optional<GitBranchAnalysis::Parent> parentOf(std::size_t branch, std::size_t base,
                                                      const GitBranchAnalysis::BranchRefs& refs,
                                                      std::size_t& work, std::size_t maxWork) const;

  private:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    const std::uint64_t* row(std::size_t node) const { return bits_.data() + node * words_; }
    static bool has(const std::uint64_t* set, std::size_t branch) {
        return (set[branch / 64] >> (branch % 64)) & 1U;
    }
    // The branches whose tips lie in the history of any copy of `branch`.
    std::vector<std::uint64_t> historyOf(std::size_t branch) const;

    std::size_t words_ = 0;
    // Row per commit: bit b is set when branch b's tip is that commit or one of its ancestors.
    std::vector<std::uint64_t> bits_;
    std::vector<std::size_t> tipNode_;
    // The rows of every copy (local and remote-tracking) of a branch, its tip's first.
    std::vector<std::vector<std::size_t>> copyNodes_;
    // The history of every copy is within the tip's history, so the tip's row stands for them all.
    std::vector<bool> tipHoldsCopies_;
    std::vector<std::size_t> rowCount_;
};

}  // namespace pelko
