#pragma once
// SystemMetricsEventEmitting: how the system metrics service reports to the page ("system/metrics"
// with the snapshot's JSON object, "system/metrics/error").
//
// Callable from any thread; events from one thread reach the page in call order. Held weakly.
#include <string>

#include "platform/Json.hpp"

namespace pelko {

class SystemMetricsEventEmitting {
  public:
    virtual ~SystemMetricsEventEmitting() = default;
    virtual void emitSystemMetrics(const Json& snapshot) = 0;
    virtual void emitSystemMetricsError(const std::string& message) = 0;
};

}  // namespace pelko
