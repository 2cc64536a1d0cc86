#pragma once
// SystemMetricsEventEmitting: how the system metrics service reports to the page ("system/metrics"
// with the sample record, "system/metrics/error").
//
// Callable from any thread; events from one thread reach the page in call order. Held weakly.
#include <string>

#include "dashboard/SystemMetricsSnapshot.hpp"

namespace pelko {

class SystemMetricsEventEmitting {
  public:
    virtual ~SystemMetricsEventEmitting() = default;
    virtual void emitSystemMetrics(const SystemMetricsSnapshot& snapshot) = 0;
    virtual void emitSystemMetricsError(const std::string& message) = 0;
};

}  // namespace pelko
