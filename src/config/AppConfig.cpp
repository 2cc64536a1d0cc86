#include "config/AppConfig.hpp"

#include <algorithm>
#include <unordered_set>

#include "platform/XdgFolders.hpp"

namespace pelko {

namespace {

std::vector<ProjectMetadata> readProjects(const Json& root, std::string_view key) {
    std::vector<ProjectMetadata> projects;
    if (const Json* array = json::optArray(root, key)) {
        for (const Json& element : *array) projects.push_back(ProjectMetadata::fromJson(element));
    }
    return projects;
}

Json writeProjects(const std::vector<ProjectMetadata>& projects) {
    Json array = Json::array();
    for (const auto& project : projects) array.push_back(project.toJson());
    return array;
}

}  // namespace

std::string_view AppConfig::featureText(Feature feature) {
    switch (feature) {
        case Feature::terminalV2:
            return "terminal.v2";
        case Feature::terminalDebugDump:
            return "terminal.debugDump";
    }
    return "terminal.v2";
}

AppConfig::Feature AppConfig::featureFromText(std::string_view text) {
    for (Feature feature : allFeatures) {
        if (featureText(feature) == text) return feature;
    }
    throw DecodeError("unknown feature: " + std::string(text));
}

AppConfig AppConfig::builtInDefault(const std::string& homePath) {
    AppConfig config;
    config.projects = ProjectMetadata::samples();
    config.activeProjectID = config.projects.front().id;
    config.columnLayout.order = ColumnLayout::defaultOrder();
    config.cliSessions.push_back(CLISessionConfig{Uuid::random(), CLISessionConfig::numberedTitle(1),
                                                  homePath, CLISessionConfig::defaultShell,
                                                  config.projects.front().id});
    return config;
}

Json AppConfig::toJson() const {
    Json root = Json::object();
    root["projects"] = writeProjects(projects);
    root["activeProjectID"] = activeProjectID ? Json(activeProjectID->string()) : Json(nullptr);
    root["columnLayout"] = columnLayout.toJson();
    Json sessions = Json::array();
    for (const auto& session : cliSessions) sessions.push_back(session.toJson());
    root["cliSessions"] = std::move(sessions);
    if (!enabledFeatures.empty()) {
        Json features = Json::array();
        for (Feature feature : enabledFeatures) features.push_back(std::string(featureText(feature)));
        root["features"] = std::move(features);
    }
    if (!resumeProjects.empty()) root["resumeProjects"] = writeProjects(resumeProjects);
    if (legacyLastOpenedProjectIDs) {
        Json ids = Json::array();
        for (const Uuid& id : *legacyLastOpenedProjectIDs) ids.push_back(id.string());
        root["lastOpenedProjectIDs"] = std::move(ids);
    }
    return root;
}

AppConfig AppConfig::fromJson(const Json& value, const std::string& homePath) {
    if (!value.is_object()) throw DecodeError("configuration is not an object");
    AppConfig config;
    config.projects = readProjects(value, "projects");
    std::optional<Uuid> storedActive = json::optUuid(value, "activeProjectID");
    if (const Json* layout = json::optObject(value, "columnLayout")) {
        config.columnLayout = ColumnLayout::fromJson(*layout);
    } else {
        config.columnLayout.order = ColumnLayout::defaultOrder();
    }
    const Json* sessions = json::optArray(value, "cliSessions");
    if (sessions) {
        for (const Json& element : *sessions)
            config.cliSessions.push_back(CLISessionConfig::fromJson(element));
    }
    if (const Json* features = json::optArray(value, "features")) {
        for (const Json& element : *features)
            config.enabledFeatures.insert(featureFromText(json::asString(element)));
    }
    config.resumeProjects = readProjects(value, "resumeProjects");
    if (const Json* legacy = json::optArray(value, "lastOpenedProjectIDs")) {
        std::vector<Uuid> ids;
        for (const Json& element : *legacy) ids.push_back(json::asUuid(element));
        config.legacyLastOpenedProjectIDs = std::move(ids);
    }

    if (!sessions) {
        std::optional<Uuid> owner = storedActive;
        if (!owner && !config.projects.empty()) owner = config.projects.front().id;
        config.cliSessions.push_back(CLISessionConfig{Uuid::random(), CLISessionConfig::numberedTitle(1),
                                                      homePath, CLISessionConfig::defaultShell, owner});
    }
    config.activeProjectID = storedActive;
    if (!config.activeProjectID && config.legacyLastOpenedProjectIDs &&
        !config.legacyLastOpenedProjectIDs->empty()) {
        config.activeProjectID = config.legacyLastOpenedProjectIDs->front();
    }
    return config;
}

AppConfig AppConfig::ensuringDefaults(const std::string& homePath) const {
    AppConfig copy = *this;
    auto isSample = [](const ProjectMetadata& project) { return ProjectMetadata::isSampleId(project.id); };
    std::erase_if(copy.projects, isSample);
    std::erase_if(copy.resumeProjects, isSample);

    auto names = [&copy](const std::optional<Uuid>& id) {
        return id && std::any_of(copy.projects.begin(), copy.projects.end(),
                                 [&](const ProjectMetadata& project) { return project.id == *id; });
    };
    if (copy.projects.empty()) {
        copy.activeProjectID.reset();
    } else if (copy.resumeProjects.empty()) {
        copy.resumeProjects = copy.projects;
    } else if (!names(copy.activeProjectID)) {
        copy.activeProjectID = copy.projects.front().id;
    }

    if (copy.columnLayout.order.empty()) copy.columnLayout.order = ColumnLayout::defaultOrder();

    std::unordered_set<Uuid> projectIds;
    for (const auto& project : copy.projects) projectIds.insert(project.id);
    std::erase_if(copy.cliSessions, [&](const CLISessionConfig& session) {
        return session.projectId && !projectIds.count(*session.projectId);
    });
    for (auto& session : copy.cliSessions) {
        if (session.workingDirectory.empty()) {
            session.workingDirectory = cliWorkingDirectory(session.projectId, copy.projects, homePath);
        }
    }

    copy.enabledFeatures.insert(Feature::terminalV2);
    return copy;
}

std::string cliWorkingDirectory(const std::optional<Uuid>& projectId,
                                const std::vector<ProjectMetadata>& projects, const std::string& homePath) {
    if (!projectId) return homePath;
    auto found = std::find_if(projects.begin(), projects.end(),
                              [&](const ProjectMetadata& project) { return project.id == *projectId; });
    if (found == projects.end()) return homePath;
    return found->rootFolder().string();
}

}  // namespace pelko
