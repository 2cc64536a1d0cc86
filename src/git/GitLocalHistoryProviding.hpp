#pragma once
// GitLocalHistoryProviding: one page of a project's local commit history, read with git.
//
// Calls block the calling thread while git runs and may come from several threads at once; they never
// throw: every failure yields a page with fewer or no edges (and a total of 0 when nothing could be
// counted). Edges come newest first with origin "local".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/ProjectMetadata.hpp"
#include "git/GitCommitEdgePayload.hpp"

namespace pelko {

struct GitLocalHistoryPage {
    std::optional<std::string> branch;    // absent when HEAD is detached
    std::optional<std::string> upstream;  // short name, absent when there is none
    std::vector<GitCommitEdgePayload> edges;
    std::int64_t totalCount = 0;
    // How many commits git listed for this page, also those whose record could not be read: paging
    // advances by this, so a record that cannot be parsed never stalls it.
    std::int64_t listedCount = 0;
};

class GitLocalHistoryProviding {
  public:
    virtual ~GitLocalHistoryProviding() = default;
    // The checked-out branch's commits that its upstream lacks (all of HEAD's without an upstream).
    virtual GitLocalHistoryPage loadUnpushedHistory(const ProjectMetadata& metadata, std::int64_t offset,
                                                    std::int64_t limit) = 0;
    // Every commit reachable from HEAD.
    virtual GitLocalHistoryPage loadHistory(const ProjectMetadata& metadata, std::int64_t offset,
                                            std::int64_t limit) = 0;
};

}  // namespace pelko
