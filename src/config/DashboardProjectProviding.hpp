#pragma once
// DashboardProjectProviding: how the dashboard reads the configured projects.
//
// Main thread only (the dashboard reads it when a snapshot is asked for and hands the copy to the
// worker that computes it). Returns copies; never filters ("active" means open in the workspace) and
// never changes anything.
#include <vector>

#include "config/ProjectMetadata.hpp"

namespace pelko {

class DashboardProjectProviding {
  public:
    virtual ~DashboardProjectProviding() = default;

    // Every configured project, in display order.
    virtual std::vector<ProjectMetadata> listActiveProjects() const = 0;
};

}  // namespace pelko
