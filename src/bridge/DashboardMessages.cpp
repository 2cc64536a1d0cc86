#include "bridge/DashboardMessages.hpp"

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgePayloads.hpp"
#include "bridge/WebBridge.hpp"
#include "platform/MainQueue.hpp"

namespace pelko {

void DashboardMessages::handle(BridgeContext& context, const std::string& type, const Json* payload) {
    if (type == "dashboard.present") {
        bool forceRefresh = json::boolField(payload, "forceRefresh").value_or(false);
        auto source = json::stringField(payload, "source");
        // The controller lives on the main thread; the request runs there later and finds it gone, or not.
        MainQueue::shared().async([controller = context.dashboardController, forceRefresh, source] {
            if (auto strong = controller.lock()) strong->present(forceRefresh, source);
        });
    } else if (type == "dashboard.dismiss") {
        auto controller = context.dashboardController.lock();
        if (!controller) return;
        MainQueue::shared().async([controller] { controller->dismiss(); });
    }
}

// ---------------------------------------------------------------------------------------------------
// Dashboard and system-metrics events (any thread)

void WebBridge::emitDashboardToggled(bool open) {
    dispatchEvent("dashboard.toggled", DashboardTogglePayload{open}.toJson());
}

void WebBridge::emitDashboardMetrics(const DashboardSnapshot& snapshot) {
    dispatchEvent("dashboard.metrics", snapshot.toJson());
}

void WebBridge::emitDashboardMetricsError(const std::string& message) {
    dispatchEvent("dashboard.metrics.error", DashboardErrorPayload{message}.toJson());
}

void WebBridge::emitSystemMetrics(const SystemMetricsSnapshot& snapshot) {
    dispatchEvent("system/metrics", snapshot.toJson());
}

void WebBridge::emitSystemMetricsError(const std::string& message) {
    dispatchEvent("system/metrics/error", SystemMetricsErrorPayload{message}.toJson());
}

}  // namespace pelko
