#pragma once
// GitBranchMapProvider: the branch map from a fixed series of read-only git queries in the project
// folder: repository state, remotes, refs and base branch, then per branch containment, ahead/behind,
// merge base, changed files and push state, then overlaps, priority, sort and bound.
//
// Keeps no state between calls; each call re-reads everything. The number of git processes grows with
// the number of branches (one `for-each-ref --contains` and one `rev-list --left-right --count` per
// branch, and at most one `merge-base`, `diff --name-only` and `rev-list --count` each).
#include <memory>

#include "git/GitBranchMapProviding.hpp"
#include "git/GitProcessRunning.hpp"
#include "platform/Environment.hpp"
#include "platform/SystemLogger.hpp"

namespace pelko {

class GitBranchMapProvider final : public GitBranchMapProviding {
  public:
    // `environment` is what every git run starts from (the process environment by default).
    explicit GitBranchMapProvider(std::shared_ptr<GitProcessRunning> processRunner,
                                  Environment::Map environment = Environment::process().all());

    GitBranchMapPayload loadBranchMap(const ProjectMetadata& metadata, std::int64_t limit) override;

  private:
    std::shared_ptr<GitProcessRunning> processRunner_;
    Environment::Map environment_;
    SystemLogger logger_{"app.pelko.git", "git-branch-map"};
};

}  // namespace pelko
