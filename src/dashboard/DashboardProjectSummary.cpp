#include "dashboard/DashboardProjectSummary.hpp"

#include "dashboard/DashboardJson.hpp"

namespace pelko {

Json DashboardProjectSummary::TechStackEntry::toJson() const {
    Json object = Json::object();
    object["name"] = name;
    object["bytes"] = bytes;
    object["ratio"] = ratio;
    return object;
}

DashboardProjectSummary::TechStackEntry DashboardProjectSummary::TechStackEntry::fromJson(const Json& value) {
    auto ratio = json::optNumber(value, "ratio");
    if (!ratio) throw DecodeError("missing \"ratio\"");
    return TechStackEntry{json::reqString(value, "name"), json::reqInteger(value, "bytes", 0), *ratio};
}

Json DashboardProjectSummary::TechStack::toJson() const {
    Json entries = Json::array();
    for (const auto& entry : languages) entries.push_back(entry.toJson());
    Json object = Json::object();
    object["totalBytes"] = totalBytes;
    object["languages"] = std::move(entries);
    return object;
}

DashboardProjectSummary::TechStack DashboardProjectSummary::TechStack::fromJson(const Json& value) {
    TechStack stack;
    stack.totalBytes = json::reqInteger(value, "totalBytes", 0);
    for (const auto& entry : json::reqArray(value, "languages")) {
        stack.languages.push_back(TechStackEntry::fromJson(entry));
    }
    return stack;
}

Json DashboardProjectSummary::toJson() const {
    Json cells = Json::array();
    for (const auto& cell : heatmap) cells.push_back(cell.toJson());
    Json object = Json::object();
    object["projectId"] = projectId.string();
    object["projectName"] = projectName;
    object["branch"] = branch;
    object["commitCount"] = commitCount;
    if (lastCommitAt) object["lastCommitAt"] = lastCommitAt->isoSeconds();
    object["techStack"] = techStack.toJson();
    object["heatmap"] = std::move(cells);
    return object;
}

DashboardProjectSummary DashboardProjectSummary::fromJson(const Json& value) {
    DashboardProjectSummary summary;
    summary.projectId = json::reqUuid(value, "projectId");
    summary.projectName = json::reqString(value, "projectName");
    summary.branch = json::reqString(value, "branch");
    summary.commitCount = json::reqInteger(value, "commitCount");
    summary.lastCommitAt = dashboard_json::optDate(value, "lastCommitAt");
    summary.techStack = TechStack::fromJson(json::reqObject(value, "techStack"));
    for (const auto& cell : json::reqArray(value, "heatmap")) {
        summary.heatmap.push_back(DashboardHeatmapCell::fromJson(cell));
    }
    return summary;
}

}  // namespace pelko
