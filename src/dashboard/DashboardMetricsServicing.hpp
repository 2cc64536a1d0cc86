#pragma once
// DashboardMetricsServicing: computes the dashboard snapshot, or returns a fresh cached one unless
// forced.
//
// `fetchSnapshot` blocks its caller for the whole computation (it runs `git` and may ask GitHub), so
// it is never called on the main thread in the application; it may hop to the main thread
// synchronously to read the configuration. It may throw std::exception; its `what()` is the failure's
// description. One computation at a time is enough for its callers.
#include "dashboard/DashboardSnapshot.hpp"

namespace pelko {

class DashboardMetricsServicing {
  public:
    virtual ~DashboardMetricsServicing() = default;
    virtual DashboardSnapshot fetchSnapshot(bool forceRefresh) = 0;
};

}  // namespace pelko
