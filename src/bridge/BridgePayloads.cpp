#include "bridge/BridgePayloads.hpp"

#include "config/AppConfig.hpp"
#include "config/ProjectMetadata.hpp"

namespace pelko {

namespace {

template <class Record>
Json arrayOf(const std::vector<Record>& records) {
    Json array = Json::array();
    for (const auto& record : records) array.push_back(record.toJson());
    return array;
}

}  // namespace

ProjectPayload ProjectPayload::from(const ProjectMetadata& project) {
    return {project.id.string(), project.name, project.rootPath, project.explorerExcludedPaths};
}

Json ProjectPayload::toJson() const {
    Json object = Json::object();
    object["id"] = id;
    object["name"] = name;
    object["rootPath"] = rootPath;
    object["explorerExcludedPaths"] = explorerExcludedPaths;
    return object;
}

ConfigSnapshotPayload ConfigSnapshotPayload::from(const AppConfig& config) {
    ConfigSnapshotPayload payload;
    for (const auto& project : config.projects) payload.projects.push_back(ProjectPayload::from(project));
    if (config.activeProjectID) payload.activeProjectId = config.activeProjectID->string();
    for (ColumnKind kind : config.columnLayout.order) payload.columnLayout.emplace_back(columnKindText(kind));
    for (const auto& session : config.cliSessions) {
        TerminalSnapshotPayload::Session entry;
        entry.id = session.id.string();
        entry.title = session.title;
        entry.workingDirectory = session.workingDirectory;
        entry.status = "pending";
        if (session.projectId) entry.projectId = session.projectId->string();
        payload.cliSessions.push_back(std::move(entry));
    }
    for (AppConfig::Feature feature : config.enabledFeatures) {
        payload.features.emplace_back(AppConfig::featureText(feature));
    }
    payload.hasSavedWorkspace = !config.resumeProjects.empty();
    if (!config.resumeProjects.empty()) {
        payload.resumeProjects.emplace();
        for (const auto& project : config.resumeProjects)
            payload.resumeProjects->push_back(ProjectPayload::from(project));
    }
    return payload;
}

Json ConfigSnapshotPayload::toJson() const {
    Json object = Json::object();
    object["projects"] = arrayOf(projects);
    if (activeProjectId) object["activeProjectId"] = *activeProjectId;
    object["columnLayout"] = columnLayout;
    object["cliSessions"] = arrayOf(cliSessions);
    object["features"] = features;
    object["hasSavedWorkspace"] = hasSavedWorkspace;
    if (resumeProjects) object["resumeProjects"] = arrayOf(*resumeProjects);
    return object;
}

Json ActivationPayload::toJson() const {
    Json object = Json::object();
    object["id"] = id;
    object["name"] = name;
    object["rootPath"] = rootPath;
    return object;
}

Json PreviewTabsHydratePayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    object["snapshot"] = snapshot.toJson();
    return object;
}

Json PreviewTabWarningPayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    object["tabs"] = arrayOf(tabs);
    return object;
}

Json TerminalStatusPayload::toJson() const {
    Json object = Json::object();
    object["sessionId"] = sessionId;
    object["status"] = status;
    if (exitCode) object["exitCode"] = *exitCode;
    return object;
}

Json TerminalExitPayload::toJson() const {
    Json object = Json::object();
    object["sessionId"] = sessionId;
    object["exitCode"] = exitCode;
    return object;
}

Json TerminalErrorPayload::toJson() const {
    Json object = Json::object();
    object["sessionId"] = sessionId;
    object["message"] = message;
    object["recoverable"] = recoverable;
    return object;
}

Json TerminalOutputPayload::toJson() const {
    Json object = Json::object();
    object["sessionId"] = sessionId;
    object["chunk"] = chunk;
    object["encoding"] = encoding;
    return object;
}

Json TerminalActivityPayload::toJson() const {
    Json object = Json::object();
    object["sessionId"] = sessionId;
    return object;
}

Json TerminalResizePayload::toJson() const {
    Json object = Json::object();
    object["sessionId"] = sessionId;
    object["cols"] = cols;
    object["rows"] = rows;
    return object;
}

Json ColumnPinchPayload::toJson() const {
    Json object = Json::object();
    object["direction"] = direction;
    object["magnitude"] = magnitude;
    object["normalizedX"] = normalizedX;
    object["normalizedY"] = normalizedY;
    object["locationX"] = locationX;
    object["locationY"] = locationY;
    object["scaleFactor"] = scaleFactor;
    object["timestamp"] = timestamp;
    return object;
}

Json ExplorerDirectoriesPayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    object["requestId"] = requestId;
    object["directories"] = arrayOf(directories);
    return object;
}

Json ExplorerChangedPayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    object["directoryPaths"] = directoryPaths;
    object["requiresResync"] = requiresResync;
    return object;
}

Json ResumeErrorPayload::toJson() const {
    Json object = Json::object();
    object["reason"] = reason;
    object["message"] = message;
    return object;
}

Json DashboardTogglePayload::toJson() const {
    Json object = Json::object();
    object["open"] = open;
    return object;
}

Json DashboardErrorPayload::toJson() const {
    Json object = Json::object();
    object["message"] = message;
    return object;
}

Json SystemMetricsErrorPayload::toJson() const {
    Json object = Json::object();
    object["message"] = message;
    return object;
}

Json GitResultPayload::toJson() const {
    Json object = Json::object();
    object["success"] = success;
    object["message"] = message;
    return object;
}

}  // namespace pelko
