#include "config/ConfigStore.hpp"

#include <glib.h>

#include <algorithm>
#include <map>
#include <unordered_set>
#include <utility>

#include "platform/AtomicFile.hpp"
#include "platform/Json.hpp"
#include "platform/ProjectPath.hpp"

namespace fs = std::filesystem;

namespace pelko {

namespace {

// "." and ".." resolved, repeated and trailing separators removed; relative paths stay relative.
std::string normalized(const fs::path& path) {
    return ProjectPath::standardize(path.string());
}

// Shown in log lines: bytes that are not UTF-8 (and control characters) escaped.
std::string printable(const std::string& path) {
    gchar* escaped = g_strescape(path.c_str(), nullptr);
    std::string text(escaped);
    g_free(escaped);
    return text;
}

}  // namespace

std::string ConfigStoreError::description() const {
    const char* name = "readFailed";
    switch (code) {
        case Code::readFailed:
            name = "readFailed";
            break;
        case Code::decodeFailed:
            name = "decodeFailed";
            break;
        case Code::encodeFailed:
            name = "encodeFailed";
            break;
        case Code::writeFailed:
            name = "writeFailed";
            break;
    }
    return detail.empty() ? std::string(name) : std::string(name) + " (detail: " + detail + ")";
}

ConfigStore::ConfigStore(const fs::path& storageDirectory)
    : config_(AppConfig::builtInDefault(XdgFolders::process().home.string())),
      homePath_(XdgFolders::process().home.string()),
      filePath_(storageDirectory / "config.json"),
      logger_("app.pelko.config", "persistence") {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(storageDirectory, error))) {
        // A failure shows up later as failed saves.
        fs::create_directories(storageDirectory, error);
    }
    if (auto removed = removeStaleTemporaries(storageDirectory, "config.json"))
        logger_.notice("config: removed " + std::to_string(removed) +
                       " temporary files of interrupted saves");
}

AppConfig ConfigStore::config() const {
    return config_.value();
}

std::optional<ProjectMetadata> ConfigStore::project(const Uuid& id) const {
    for (const auto& project : config_.value().projects) {
        if (project.id == id) return project;
    }
    return std::nullopt;
}

std::vector<ProjectMetadata> ConfigStore::listActiveProjects() const {
    return config_.value().projects;
}

Subscription ConfigStore::subscribe(std::function<void(const AppConfig&)> handler) {
    return config_.subscribe(std::move(handler));
}

std::optional<ConfigStoreError> ConfigStore::bootstrap() {
    std::error_code error;
    if (!fs::exists(filePath_, error)) {
        unreadableFileOnDisk_ = false;
        config_.set(AppConfig::builtInDefault(homePath_).ensuringDefaults(homePath_));
        return persistReporting();
    }
    std::string contents;
    if (auto readError = readWholeFile(filePath_, contents)) {
        unreadableFileOnDisk_ = true;
        return ConfigStoreError{ConfigStoreError::Code::readFailed, readError.message()};
    }
    auto parsed = json::parse(contents);
    if (!parsed) {
        unreadableFileOnDisk_ = true;
        return ConfigStoreError{ConfigStoreError::Code::decodeFailed, "malformed JSON"};
    }
    try {
        AppConfig loaded = AppConfig::fromJson(*parsed, homePath_);
        unreadableFileOnDisk_ = false;
        config_.set(loaded.ensuringDefaults(homePath_));
        return std::nullopt;
    } catch (const std::exception& decodeError) {
        unreadableFileOnDisk_ = true;
        return ConfigStoreError{ConfigStoreError::Code::decodeFailed, decodeError.what()};
    }
}

std::optional<ConfigStoreError> ConfigStore::persist() {
    std::string text;
    try {
        text = json::encode(config_.value().toJson());
    } catch (const std::exception& encodeError) {
        return ConfigStoreError{ConfigStoreError::Code::encodeFailed, encodeError.what()};
    }
    if (unreadableFileOnDisk_ && !preserveUnreadableFile()) {
        return ConfigStoreError{ConfigStoreError::Code::writeFailed, "the unreadable file could not be kept"};
    }
    if (auto writeError = writeFileAtomically(filePath_, text)) {
        return ConfigStoreError{ConfigStoreError::Code::writeFailed, writeError.message()};
    }
    return std::nullopt;
}

bool ConfigStore::preserveUnreadableFile() {
    fs::path target;
    if (auto error = keepUnreadableFile(filePath_, target)) {
        logger_.error("config: could not keep the unreadable configuration file: " + error.message());
        return false;
    }
    if (!target.empty())
        logger_.notice("config: kept the unreadable configuration file as " + target.filename().string());
    unreadableFileOnDisk_ = false;
    return true;
}

void ConfigStore::update(bool ensureDefaults, const std::function<void(AppConfig&)>& mutate) {
    AppConfig changed = config_.value();
    mutate(changed);
    config_.set(std::move(changed));
    if (ensureDefaults) config_.set(config_.value().ensuringDefaults(homePath_));
    if (!config_.value().projects.empty()) {
        AppConfig withResume = config_.value();
        withResume.resumeProjects = withResume.projects;
        config_.set(std::move(withResume));
    }
    // Memory stays authoritative; the failure is logged and every later change writes the whole
    // file again.
    (void)persistReporting();
}

std::optional<ConfigStoreError> ConfigStore::persistReporting() {
    auto error = persist();
    if (error) {
        ++failedSaves_;
        logger_.error(
            "config: failed to save config.json; the change is kept in memory and the next change "
            "tries again: " +
            error->description());
    } else if (failedSaves_ > 0) {
        logger_.notice("config: config.json saved again after " + std::to_string(failedSaves_) +
                       " failed saves");
        failedSaves_ = 0;
    }
    return error;
}

std::string ConfigStore::workingDirectory(const std::optional<Uuid>& projectId) const {
    return cliWorkingDirectory(projectId, config_.value().projects, homePath_);
}

void ConfigStore::setActiveProject(const Uuid& id) {
    if (!project(id)) return;
    update(true, [&](AppConfig& config) { config.activeProjectID = id; });
}

void ConfigStore::reorderProjects(const std::vector<Uuid>& ids) {
    if (ids.empty()) return;
    update(true, [&](AppConfig& config) {
        auto& projects = config.projects;
        if (projects.size() < 2) return;
        std::map<Uuid, ProjectMetadata> lookup;
        for (const auto& project : projects) lookup.emplace(project.id, project);
        std::vector<ProjectMetadata> reordered;
        for (const Uuid& id : ids) {
            auto found = lookup.find(id);
            if (found == lookup.end()) continue;
            reordered.push_back(std::move(found->second));
            lookup.erase(found);
        }
        if (!reordered.empty()) {
            for (const auto& project : projects) {
                auto found = lookup.find(project.id);
                if (found == lookup.end()) continue;
                reordered.push_back(std::move(found->second));
                lookup.erase(found);
            }
        }
        if (reordered.size() == projects.size() && reordered != projects) projects = std::move(reordered);
    });
}

std::vector<ProjectMetadata> ConfigStore::openProjects(const std::vector<fs::path>& folders) {
    const AppConfig& current = config_.value();
    const bool onlySamples =
        !current.projects.empty() &&
        std::all_of(current.projects.begin(), current.projects.end(),
                    [](const ProjectMetadata& p) { return ProjectMetadata::isSampleId(p.id); });

    // The home folder as written and as resolved, so a home reached through a link still shortens.
    std::vector<std::string> homes{normalized(homePath_)};
    std::error_code error;
    fs::path canonicalHome = fs::canonical(homePath_, error);
    if (!error && canonicalHome.string() != homes.front()) homes.push_back(canonicalHome.string());
    auto shortened = [&](const std::string& path) {
        for (const auto& home : homes) {
            if (auto relative = ProjectPath::relativeTo(path, home))
                return relative->empty() ? std::string("~") : "~/" + *relative;
        }
        return path;
    };
    auto sameFolder = [&](const ProjectMetadata& project, const std::string& resolved) {
        return project.rootFolder().string() == resolved;
    };

    struct Opened {
        ProjectMetadata project;
        bool isNew;
    };
    std::vector<Opened> results;
    std::unordered_set<std::string> seen;
    for (const auto& folder : folders) {
        fs::path standardized = normalized(fs::absolute(folder, error));
        if (error || !fs::is_directory(standardized, error)) continue;
        fs::path resolvedPath = fs::canonical(standardized, error);
        if (error) continue;
        std::string resolved = resolvedPath.string();
        // config.json holds UTF-8 text only: such a path would be stored with U+FFFD in place of its
        // bytes and point at another folder after a restart.
        if (!g_utf8_validate(resolved.data(), static_cast<gssize>(resolved.size()), nullptr)) {
            logger_.error("config: cannot open " + printable(resolved) +
                          " as a project: its path is not valid UTF-8, which config.json cannot hold");
            continue;
        }
        if (!seen.insert(resolved).second) continue;
        if (!onlySamples) {
            auto existing = std::find_if(current.projects.begin(), current.projects.end(),
                                         [&](const ProjectMetadata& p) { return sameFolder(p, resolved); });
            if (existing != current.projects.end()) {
                results.push_back({*existing, false});
                continue;
            }
        }
        std::string name = resolvedPath.has_filename() ? resolvedPath.filename().string() : resolved;
        results.push_back(
            {ProjectMetadata{Uuid::random(), std::move(name), shortened(resolved), std::nullopt, {}}, true});
    }
    if (results.empty()) return {};

    update(true, [&](AppConfig& config) {
        if (onlySamples) config.projects.clear();
        for (const auto& opened : results) {
            if (opened.isNew) config.projects.push_back(opened.project);
        }
        config.activeProjectID = results.front().project.id;
        for (const auto& opened : results) ensureInitialCLISession(opened.project.id, config, homePath_);
    });
    std::vector<ProjectMetadata> projects;
    projects.reserve(results.size());
    for (auto& opened : results) projects.push_back(std::move(opened.project));
    return projects;
}

void ConfigStore::ensureInitialCLISession(const Uuid& projectId, AppConfig& config,
                                          const std::string& homePath) {
    auto isProject = [&](const ProjectMetadata& project) { return project.id == projectId; };
    if (std::none_of(config.projects.begin(), config.projects.end(), isProject)) return;
    auto belongs = [&](const CLISessionConfig& session) { return session.projectId == projectId; };
    if (std::any_of(config.cliSessions.begin(), config.cliSessions.end(), belongs)) return;
    config.cliSessions.push_back(CLISessionConfig{Uuid::random(), CLISessionConfig::numberedTitle(1),
                                                  cliWorkingDirectory(projectId, config.projects, homePath),
                                                  CLISessionConfig::defaultShell, projectId});
}

std::optional<ProjectMetadata> ConfigStore::nextProject(const std::optional<Uuid>& after) const {
    const auto& projects = config_.value().projects;
    if (projects.empty()) return std::nullopt;
    for (std::size_t i = 0; after && i < projects.size(); ++i) {
        if (projects[i].id == *after) return projects[(i + 1) % projects.size()];
    }
    return projects.front();
}

std::optional<ProjectMetadata> ConfigStore::previousProject(const std::optional<Uuid>& before) const {
    const auto& projects = config_.value().projects;
    if (projects.empty()) return std::nullopt;
    for (std::size_t i = 0; before && i < projects.size(); ++i) {
        if (projects[i].id == *before) return projects[(i + projects.size() - 1) % projects.size()];
    }
    return projects.back();
}

CLISessionConfig ConfigStore::addCLISession(const std::optional<std::string>& title,
                                            const std::optional<Uuid>& projectId) {
    const auto& sessions = config_.value().cliSessions;
    auto sameProject = std::count_if(sessions.begin(), sessions.end(), [&](const CLISessionConfig& session) {
        return session.projectId == projectId;
    });
    CLISessionConfig session{
        Uuid::random(),
        title ? *title : CLISessionConfig::numberedTitle(static_cast<std::size_t>(sameProject) + 1),
        workingDirectory(projectId), CLISessionConfig::defaultShell, projectId};
    update(true, [&](AppConfig& config) { config.cliSessions.push_back(session); });
    return session;
}

void ConfigStore::removeCLISession(const Uuid& id) {
    update(true, [&](AppConfig& config) {
        std::erase_if(config.cliSessions, [&](const CLISessionConfig& session) { return session.id == id; });
    });
}

std::optional<ConfigStore::CloseProjectResult> ConfigStore::closeProject(const Uuid& id) {
    if (!project(id)) return std::nullopt;
    CloseProjectResult result;
    update(false, [&](AppConfig& config) {
        for (const auto& session : config.cliSessions) {
            if (session.projectId == id) result.removedSessionIDs.push_back(session.id);
        }
        std::erase_if(config.cliSessions,
                      [&](const CLISessionConfig& session) { return session.projectId == id; });
        std::erase_if(config.projects, [&](const ProjectMetadata& project) { return project.id == id; });
        if (config.projects.empty()) {
            config.activeProjectID.reset();
        } else if (config.activeProjectID == id) {
            config.activeProjectID = config.projects.front().id;
        }
        result.nextActiveID = config.activeProjectID;
    });
    return result;
}

std::optional<Uuid> ConfigStore::resumeWorkspace() {
    if (config_.value().resumeProjects.empty()) return std::nullopt;
    update(true, [](AppConfig& config) {
        config.projects = config.resumeProjects;
        auto named = std::any_of(config.projects.begin(), config.projects.end(),
                                 [&](const ProjectMetadata& p) { return config.activeProjectID == p.id; });
        if (!named && !config.projects.empty()) config.activeProjectID = config.projects.front().id;
    });
    return config_.value().activeProjectID;
}

}  // namespace pelko
