#pragma once
// GitBranchMapProvider: the branch map from read-only git queries in the project folder: repository
// state, remotes, refs and base branch; then, for all branches at once, which tips the base and the
// current branch hold (`for-each-ref --merged`) and the commits the base lacks with their parents (one
// `rev-list --parents` walk), from which ahead counts, merge bases and single-commit changes follow;
// then overlaps, priority, sort and bound; last, for the nodes shown only, subjects and parents (one
// walk of the graph reduced to the commits branches point at).
//
// Keeps no state between calls. Work and memory grow linearly with the branches: git runs for single
// branches (push counts first, then behind counts per distinct fork point, merge bases and diffs the
// walks cannot answer) are bounded by `Limits::branchRuns`, subject readings (each covering many
// commits) by a fixed count, every output by a size limit, the tables by `Limits`; what the bounds
// leave unanswered says so ("undetermined" with "historyTooLong", a parent "undetermined", an absent
// count), never a guess, except that a push count past the budget shows as "noUpstream", as a failed
// one does. Every run is bounded in time too.
//
// The event stays within `maxEventBytes`: subjects are cut to GitBranchAnalysis::maxSubjectBytes and
// sample paths to GitBranchMapRanking::maxPathBytes between characters, worktree paths to
// `maxWorktreePathBytes`, a node holds at most GitBranchMapRanking::maxOverlaps overlaps, refs named
// longer than GitBranchAnalysis::maxNameBytes are left out, and nodes past the bound are left out and
// counted in `truncatedCount` (the current and base branches always stay).
#include <chrono>
#include <cstddef>
#include <memory>

#include "git/GitBranchMapProviding.hpp"
#include "git/GitProcessRunning.hpp"
#include "platform/Environment.hpp"
#include "platform/SystemLogger.hpp"

namespace pelko {

class GitBranchMapProvider final : public GitBranchMapProviding {
  public:
    struct Limits {
        // git runs for single branches in one map.
        std::size_t branchRuns = 2000;
        // Standard output of the ref listing, of each walk and of each batch.
        std::size_t outputBytes = std::size_t{32} * 1024 * 1024;
        // Bits of the containment table: one per branch for each commit a branch points at.
        std::size_t containmentBits = std::size_t{1} << 29;
        // Commits, parents and table words visited by the analysis of one map.
        std::size_t work = std::size_t{1} << 28;
        // Longest a single git run may take.
        std::chrono::milliseconds runTime = std::chrono::minutes(5);
    };

    static constexpr std::size_t maxEventBytes = std::size_t{2} * 1024 * 1024;
    static constexpr std::size_t maxWorktreePathBytes = 4096;

    // `environment` is what every git run starts from (the process environment by default).
    explicit GitBranchMapProvider(std::shared_ptr<GitProcessRunning> processRunner,
                                  Environment::Map environment = Environment::process().all());
    GitBranchMapProvider(std::shared_ptr<GitProcessRunning> processRunner, Environment::Map environment,
                         Limits limits);

    GitBranchMapPayload loadBranchMap(const ProjectMetadata& metadata, std::int64_t limit) override;

  private:
    std::shared_ptr<GitProcessRunning> processRunner_;
    Environment::Map environment_;
    Limits limits_;
    SystemLogger logger_{"app.pelko.git", "git-branch-map"};
};

}  // namespace pelko
