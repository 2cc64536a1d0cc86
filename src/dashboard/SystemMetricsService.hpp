#pragma once
// SystemMetricsService: samples the process's own CPU use and resident memory every polling interval
// and sends each sample to the page as "system/metrics" (a failed memory reading as
// "system/metrics/error"; nothing is made up in its place).
//
// Main thread only: `start`, `stop` and every tick run there, so the previous sample needs no lock.
// The emitter is held weakly; without it samples are dropped. The first sample after `start` is sent at
// once and reports 0 % CPU (there is nothing to compare with). Destroying the service stops its ticks.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "dashboard/ProcessResourceReading.hpp"
#include "dashboard/SystemMetricsEventEmitting.hpp"
#include "dashboard/SystemMetricsSnapshot.hpp"
#include "dashboard/SystemMetricsTicking.hpp"
#include "platform/Date.hpp"

namespace pelko {

class SystemMetricsService {
  public:
    static constexpr const char* failureMessage = "Failed to collect system metrics";

    // The process's own readings, the system clock and a timer on the main queue.
    explicit SystemMetricsService(double pollingInterval = 5.0);
    SystemMetricsService(double pollingInterval, std::shared_ptr<const ProcessResourceReading> reader,
                         std::function<Date()> clock, std::unique_ptr<SystemMetricsTicking> ticker);
    ~SystemMetricsService();
    SystemMetricsService(const SystemMetricsService&) = delete;
    SystemMetricsService& operator=(const SystemMetricsService&) = delete;

    void setEventEmitter(std::weak_ptr<SystemMetricsEventEmitting> emitter);
    // (Re)starts sampling: forgets the previous sample, sends one sample now, then one per interval.
    void start();
    // Stops the ticks and forgets the previous sample.
    void stop();
    // One sample; nothing when the memory reading fails. Updates the previous CPU sample.
    std::optional<SystemMetricsSnapshot> getCurrentMetrics();

  private:
    struct CPUSample {
        ProcessResourceReading::CPUTimes times;
        Date time;
    };

    void emitCurrentMetrics();
    double calculateCPUPercent(Date now);

    std::unique_ptr<SystemMetricsTicking> ticker_;
    std::weak_ptr<SystemMetricsEventEmitting> eventEmitter_;
    double pollingInterval_;
    std::optional<CPUSample> previous_;
    std::shared_ptr<const ProcessResourceReading> reader_;
    std::function<Date()> clock_;
};

}  // namespace pelko
