#pragma once
// DashboardController: whether the page's dashboard is open, at most one snapshot computation at a
// time, and the dashboard's analytics events.
//
// Main thread only (every operation and state change). A load reads the project list there when it
// starts; the computation runs on the controller's own serial queue "app.pelko.dashboard.snapshot"
// and never waits for the main thread; its result or failure comes back to the main thread and
// is sent whether or not the dashboard is still open. A forced refresh while a computation runs is
// dropped, not queued. The emitter is held weakly (page events are dropped without it); the metrics
// service and analytics logger strongly. The controller itself is held by shared_ptr: a computation
// that ends after the controller is gone delivers nothing.
#include <memory>
#include <optional>
#include <string>

#include "dashboard/DashboardControlling.hpp"
#include "dashboard/DashboardEventEmitting.hpp"
#include "dashboard/DashboardMetricsServicing.hpp"
#include "platform/AnalyticsLogging.hpp"
#include "platform/SerialQueue.hpp"

namespace pelko {

class DashboardController final : public DashboardControlling,
                                  public std::enable_shared_from_this<DashboardController> {
  public:
    static constexpr const char* failureMessage = "Failed to fetch dashboard metrics";

    static std::shared_ptr<DashboardController> create(
        std::shared_ptr<DashboardMetricsServicing> metricsService,
        std::weak_ptr<DashboardEventEmitting> eventEmitter,
        std::shared_ptr<AnalyticsLogging> analyticsLogger);

    void present(bool forceRefresh, const std::optional<std::string>& source) override;
    void dismiss() override;
    void noteCardOpened(const Uuid& projectId, const std::optional<std::string>& projectName) override;

    bool isPresented() const { return isPresented_; }
    bool isFetchingSnapshot() const { return isFetchingSnapshot_; }

  private:
    DashboardController(std::shared_ptr<DashboardMetricsServicing> metricsService,
                        std::weak_ptr<DashboardEventEmitting> eventEmitter,
                        std::shared_ptr<AnalyticsLogging> analyticsLogger);
    void loadSnapshot(bool forceRefresh);

    std::shared_ptr<DashboardMetricsServicing> metricsService_;
    std::weak_ptr<DashboardEventEmitting> eventEmitter_;
    std::shared_ptr<AnalyticsLogging> analyticsLogger_;
    bool isPresented_ = false;
    bool isFetchingSnapshot_ = false;
    std::string lastOpenSource_ = "native";
    std::shared_ptr<SerialQueue> queue_;
};

}  // namespace pelko
