#include "dashboard/DashboardSnapshot.hpp"

#include "dashboard/DashboardJson.hpp"

namespace pelko {

Json DashboardSnapshot::toJson() const {
    Json summaries = Json::array();
    for (const auto& summary : projectSummaries) summaries.push_back(summary.toJson());
    Json object = Json::object();
    object["generatedAt"] = generatedAt.isoSeconds();
    object["totalCommits"] = totalCommits;
    object["todaysCommits"] = todaysCommits;
    object["last30DayCommits"] = last30DayCommits;
    object["previous30DayCommits"] = previous30DayCommits;
    object["last30DayDeltaPercent"] = last30DayDeltaPercent;
    object["projectSummaries"] = std::move(summaries);
    return object;
}

DashboardSnapshot DashboardSnapshot::fromJson(const Json& value) {
    DashboardSnapshot snapshot;
    snapshot.generatedAt = dashboard_json::reqDate(value, "generatedAt");
    snapshot.totalCommits = json::reqInteger(value, "totalCommits");
    snapshot.todaysCommits = json::reqInteger(value, "todaysCommits");
    snapshot.last30DayCommits = json::reqInteger(value, "last30DayCommits");
    snapshot.previous30DayCommits = json::reqInteger(value, "previous30DayCommits");
    auto delta = json::optNumber(value, "last30DayDeltaPercent");
    if (!delta) throw DecodeError("missing \"last30DayDeltaPercent\"");
    snapshot.last30DayDeltaPercent = *delta;
    for (const auto& summary : json::reqArray(value, "projectSummaries")) {
        snapshot.projectSummaries.push_back(DashboardProjectSummary::fromJson(summary));
    }
    return snapshot;
}

}  // namespace pelko
