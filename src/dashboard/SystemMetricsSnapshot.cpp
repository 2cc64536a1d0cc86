#include "dashboard/SystemMetricsSnapshot.hpp"

#include "dashboard/DashboardJson.hpp"

namespace pelko {

Json SystemMetricsSnapshot::toJson() const {
    Json object = Json::object();
    object["timestamp"] = timestamp.isoSeconds();
    object["cpuPercent"] = cpuPercent;
    object["memoryMB"] = memoryMB;
    return object;
}

SystemMetricsSnapshot SystemMetricsSnapshot::fromJson(const Json& value) {
    auto cpu = json::optNumber(value, "cpuPercent");
    auto memory = json::optNumber(value, "memoryMB");
    if (!cpu || !memory) throw DecodeError("missing \"cpuPercent\" or \"memoryMB\"");
    return SystemMetricsSnapshot{dashboard_json::reqDate(value, "timestamp"), *cpu, *memory};
}

}  // namespace pelko
