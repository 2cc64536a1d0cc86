#include "dashboard/DashboardHeatmapCell.hpp"

#include "dashboard/DashboardJson.hpp"

namespace pelko {

Json DashboardHeatmapCell::toJson() const {
    Json object = Json::object();
    object["date"] = date.isoSeconds();
    object["count"] = count;
    return object;
}

DashboardHeatmapCell DashboardHeatmapCell::fromJson(const Json& value) {
    return DashboardHeatmapCell{dashboard_json::reqDate(value, "date"), json::reqInteger(value, "count")};
}

}  // namespace pelko
