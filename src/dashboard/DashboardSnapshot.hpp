#pragma once
// DashboardSnapshot: the payload of "dashboard.metrics": the totals over all projects, the change of
// the last 30 local days against the 30 before (percent, one decimal place) and one summary per
// project in the configured order. A snapshot served from a cache keeps its `generatedAt`.
#include <cstdint>
#include <vector>

#include "dashboard/DashboardProjectSummary.hpp"
#include "platform/Date.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct DashboardSnapshot {
    Date generatedAt;
    std::int64_t totalCommits = 0;
    std::int64_t todaysCommits = 0;
    std::int64_t last30DayCommits = 0;
    std::int64_t previous30DayCommits = 0;
    double last30DayDeltaPercent = 0;
    std::vector<DashboardProjectSummary> projectSummaries;

    // Keys in field order.
    Json toJson() const;
    // Throws DecodeError for a missing key or a wrong type.
    static DashboardSnapshot fromJson(const Json& value);

    friend bool operator==(const DashboardSnapshot&, const DashboardSnapshot&) = default;
};

}  // namespace pelko
