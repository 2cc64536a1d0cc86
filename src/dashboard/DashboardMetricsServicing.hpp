#pragma once
// DashboardMetricsServicing: computes the dashboard snapshot, or returns a fresh cached one unless
// forced.
//
// A computation is asked for in two steps. `snapshotRequest` runs on the main thread and copies what
// the computation needs from there (the configured projects); it never blocks. `fetchSnapshot` then
// blocks its caller for the whole computation (it runs `git` and may ask GitHub), so it is never called
// on the main thread in the application, and it never waits for the main thread. It may throw
// std::exception; its `what()` is the failure's description. One computation at a time is enough for
// its callers.
#include <vector>

#include "config/ProjectMetadata.hpp"
#include "dashboard/DashboardSnapshot.hpp"

namespace pelko {

class DashboardMetricsServicing {
  public:
    // A computation's input, read on the main thread when it was asked for.
    struct SnapshotRequest {
        bool forceRefresh = false;
        std::vector<ProjectMetadata> projects;  // every configured project, in display order
    };

    virtual ~DashboardMetricsServicing() = default;
    virtual SnapshotRequest snapshotRequest(bool forceRefresh) const = 0;
    virtual DashboardSnapshot fetchSnapshot(const SnapshotRequest& request) = 0;
};

}  // namespace pelko
