#pragma once
// DashboardEventEmitting: how the dashboard controller reports to the page, one operation per event
// ("dashboard.toggled", "dashboard.metrics" with the snapshot record, "dashboard.metrics.error").
//
// Callable from any thread; events from one thread reach the page in call order. Held weakly.
#include <string>

#include "dashboard/DashboardSnapshot.hpp"

namespace pelko {

class DashboardEventEmitting {
  public:
    virtual ~DashboardEventEmitting() = default;
    virtual void emitDashboardToggled(bool open) = 0;
    virtual void emitDashboardMetrics(const DashboardSnapshot& snapshot) = 0;
    virtual void emitDashboardMetricsError(const std::string& message) = 0;
};

}  // namespace pelko
