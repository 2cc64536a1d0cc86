#pragma once
// DashboardHeatmapCell: one local day of a project's commit heatmap. `date` is midnight UTC of the
// local calendar date the cell stands for; `count` is the non-merge commits of that day.
#include <cstdint>

#include "platform/Date.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct DashboardHeatmapCell {
    Date date;
    std::int64_t count = 0;

    // Keys "date" (whole seconds, Z), "count".
    Json toJson() const;
    // Throws DecodeError for a missing key or a wrong type.
    static DashboardHeatmapCell fromJson(const Json& value);

    friend bool operator==(const DashboardHeatmapCell&, const DashboardHeatmapCell&) = default;
};

}  // namespace pelko
