#include "dashboard/DashboardController.hpp"

#include <exception>
#include <variant>

#include "platform/MainQueue.hpp"

namespace pelko {

std::shared_ptr<DashboardController> DashboardController::create(
    std::shared_ptr<DashboardMetricsServicing> metricsService,
    std::weak_ptr<DashboardEventEmitting> eventEmitter, std::shared_ptr<AnalyticsLogging> analyticsLogger) {
    return std::shared_ptr<DashboardController>(new DashboardController(
        std::move(metricsService), std::move(eventEmitter), std::move(analyticsLogger)));
}

DashboardController::DashboardController(std::shared_ptr<DashboardMetricsServicing> metricsService,
                                         std::weak_ptr<DashboardEventEmitting> eventEmitter,
                                         std::shared_ptr<AnalyticsLogging> analyticsLogger)
    : metricsService_(std::move(metricsService)),
      eventEmitter_(std::move(eventEmitter)),
      analyticsLogger_(std::move(analyticsLogger)),
      queue_(std::make_shared<SerialQueue>("app.pelko.dashboard.snapshot")) {}

void DashboardController::present(bool forceRefresh, const std::optional<std::string>& source) {
    if (isPresented_) {
        if (forceRefresh && !isFetchingSnapshot_) loadSnapshot(true);
        return;
    }
    lastOpenSource_ = source.value_or("native");
    isPresented_ = true;
    if (auto emitter = eventEmitter_.lock()) emitter->emitDashboardToggled(true);
    analyticsLogger_->log("dashboard_opened", {{"source", lastOpenSource_}});
    if (!isFetchingSnapshot_) loadSnapshot(forceRefresh);
}

void DashboardController::dismiss() {
    if (!isPresented_) return;
    isPresented_ = false;
    if (auto emitter = eventEmitter_.lock()) emitter->emitDashboardToggled(false);
    analyticsLogger_->log("dashboard_closed", {{"source", lastOpenSource_}});
}

void DashboardController::noteCardOpened(const Uuid& projectId,
                                         const std::optional<std::string>& projectName) {
    if (!isPresented_) return;
    AnalyticsProperties properties{{"projectId", projectId.string()}, {"source", lastOpenSource_}};
    if (projectName) properties.emplace("projectName", *projectName);
    analyticsLogger_->log("dashboard_card_opened", properties);
}

void DashboardController::loadSnapshot(bool forceRefresh) {
    isFetchingSnapshot_ = true;
    // The task keeps the queue: a controller dropped mid-load then leaves the worker to finish (and
    // detach) on its own instead of joining it, which could wait for the main thread that drops it.
    // Read here, on the main thread, so the worker never waits for it.
    auto request = metricsService_->snapshotRequest(forceRefresh);
    queue_->async(
        [weak = weak_from_this(), service = metricsService_, queue = queue_, request = std::move(request)] {
            // A snapshot, or the failure's description.
            std::variant<DashboardSnapshot, std::string> outcome;
            try {
                outcome = service->fetchSnapshot(request);
            } catch (const std::exception& error) {
                outcome = std::string(error.what());
            }
            MainQueue::shared().async([weak, outcome = std::move(outcome)] {
                auto self = weak.lock();
                if (!self) return;
                auto emitter = self->eventEmitter_.lock();
                if (const auto* snapshot = std::get_if<DashboardSnapshot>(&outcome)) {
                    if (emitter) emitter->emitDashboardMetrics(*snapshot);
                } else {
                    if (emitter) emitter->emitDashboardMetricsError(failureMessage);
                    self->analyticsLogger_->log("dashboard_metrics_error",
                                                {{"reason", std::get<std::string>(outcome)}});
                }
                self->isFetchingSnapshot_ = false;
            });
        });
}

}  // namespace pelko
