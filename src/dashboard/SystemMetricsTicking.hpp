#pragma once
// SystemMetricsTicking: the repeating tick behind the system metrics. `start` replaces any earlier
// run; after `cancel` returns no further tick comes. Ticks run on the main thread, one at a time.
#include <chrono>
#include <functional>

namespace pelko {

class SystemMetricsTicking {
  public:
    virtual ~SystemMetricsTicking() = default;
    virtual void start(std::chrono::milliseconds interval, std::function<void()> tick) = 0;
    virtual void cancel() = 0;
};

}  // namespace pelko
