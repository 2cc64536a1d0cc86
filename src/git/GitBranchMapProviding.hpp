#pragma once
// GitBranchMapProviding: computes the branch map of one project.
//
// `loadBranchMap` blocks the calling thread for its whole series of git runs (the Git service calls it
// on its serial queue, one map at a time), never throws and never fails: every problem shows inside the
// payload (repository state, "undetermined" reasons, absent counts). It never contacts a remote.
#include <cstdint>

#include "config/ProjectMetadata.hpp"
#include "git/GitBranchMapPayload.hpp"

namespace pelko {

class GitBranchMapProviding {
  public:
    virtual ~GitBranchMapProviding() = default;
    virtual GitBranchMapPayload loadBranchMap(const ProjectMetadata& metadata, std::int64_t limit) = 0;
};

}  // namespace pelko
