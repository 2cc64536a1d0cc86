#pragma once
// SystemMetricsSnapshot: the payload of "system/metrics": when the sample was taken, the process's CPU
// use since the previous sample (percent of one processor) and its resident memory in mebibytes.
#include "platform/Date.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct SystemMetricsSnapshot {
    Date timestamp;
    double cpuPercent = 0;
    double memoryMB = 0;

    // Keys "timestamp" (whole seconds, Z), "cpuPercent", "memoryMB".
    Json toJson() const;
    // Throws DecodeError for a missing key or a wrong type.
    static SystemMetricsSnapshot fromJson(const Json& value);

    friend bool operator==(const SystemMetricsSnapshot&, const SystemMetricsSnapshot&) = default;
};

}  // namespace pelko
