#include "config/PreviewTabsPersistenceService.hpp"

#include <utility>

#include "platform/AtomicFile.hpp"
#include "platform/Json.hpp"
#include "platform/SerialQueue.hpp"

namespace fs = std::filesystem;

namespace pelko {

namespace {

constexpr std::int64_t databaseVersion = 1;

// Whole seconds with "Z" or a numeric offset; fractional seconds are not part of the stored form.
Date parseUpdatedAt(const std::string& text) {
    auto date = text.find('.') == std::string::npos ? Date::parseIso(text) : std::nullopt;
    if (!date) throw DecodeError("invalid date (key: updatedAt)");
    return *date;
}

}  // namespace

std::string PreviewTabsPersistenceError::description() const {
    const char* name = code == Code::encodeFailed ? "encodeFailed" : "writeFailed";
    return detail.empty() ? std::string(name) : std::string(name) + " (detail: " + detail + ")";
}

PreviewTabsPersistenceService::PreviewTabsPersistenceService(fs::path storageDirectory, SystemLogger logger,
                                                             std::string homePath)
    : storageDirectory_(std::move(storageDirectory)),
      databasePath_(storageDirectory_ / "projects.db"),
      logger_(std::move(logger)),
      homePath_(std::move(homePath)),
      queue_(std::make_unique<SerialQueue>("app.pelko.preview-tabs.persistence")) {
    ensureStorageDirectoryExists();
    loadFromDisk();
}

PreviewTabsPersistenceService::~PreviewTabsPersistenceService() = default;

void PreviewTabsPersistenceService::ensureStorageDirectoryExists() const {
    std::error_code error;
    if (fs::exists(fs::symlink_status(storageDirectory_, error))) return;
    fs::create_directories(storageDirectory_, error);
    if (error) logger_.error("previewTabs: failed to create storage directory: " + error.message());
}

void PreviewTabsPersistenceService::loadFromDisk() {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(databasePath_, error))) return;
    auto fail = [this](const std::string& reason) {
        logger_.error("previewTabs: failed to load database: " + reason);
        unreadableDatabaseOnDisk_ = true;
    };
    std::string contents;
    if (auto readError = readWholeFile(databasePath_, contents)) return fail(readError.message());
    auto root = json::parse(contents);
    if (!root) return fail("malformed JSON");

    std::int64_t version = 0;
    std::map<Uuid, ProjectSnapshot> loaded;
    try {
        version = json::reqInteger(*root, "version");
        for (const Json& entry : json::reqArray(*root, "projects")) {
            ProjectSnapshot snapshot{json::reqUuid(entry, "projectId"),
                                     parseUpdatedAt(json::reqString(entry, "updatedAt")),
                                     PreviewTabsState::fromJson(json::reqObject(entry, "previewTabs"))};
            // The system never writes a project twice; if a file does, its last entry wins.
            loaded.insert_or_assign(snapshot.projectId, std::move(snapshot));
        }
    } catch (const std::exception& decodeError) {
        return fail(decodeError.what());
    }
    if (version != databaseVersion) {
        logger_.notice("previewTabs: database version " + std::to_string(version) +
                       " is not supported. Resetting cache.");
        unreadableDatabaseOnDisk_ = true;
        return;
    }
    snapshots_ = std::move(loaded);
}

PreviewTabsHydrationResult PreviewTabsPersistenceService::hydrateSnapshot(const ProjectMetadata& project) {
    std::optional<PreviewTabsState> stored;
    queue_->sync([&] {
        auto found = snapshots_.find(project.id);
        if (found != snapshots_.end()) stored = found->second.previewTabs;
    });
    if (!stored) return {};
    if (stored->version != PreviewTabsState::currentVersion) {
        logger_.notice("previewTabs: snapshot version mismatch for project " + project.id.string() +
                       ". Resetting to empty state.");
        return {};
    }
    auto warnings = detectMissingTabs(*stored, project);
    return PreviewTabsHydrationResult{std::move(*stored), std::move(warnings)};
}

std::optional<PreviewTabsPersistenceError> PreviewTabsPersistenceService::persist(
    const PreviewTabsState& snapshot, const ProjectMetadata& project) {
    ProjectSnapshot entry{project.id, Date::now(), snapshot};
    entry.previewTabs.version = PreviewTabsState::currentVersion;
    std::optional<PreviewTabsPersistenceError> result;
    queue_->sync([&] {
        snapshots_.insert_or_assign(project.id, std::move(entry));
        result = persistToDisk();
    });
    return result;
}

std::optional<PreviewTabsPersistenceError> PreviewTabsPersistenceService::persistToDisk() {
    ensureStorageDirectoryExists();
    Json projects = Json::array();
    for (const auto& [id, snapshot] : snapshots_) {
        Json entry = Json::object();
        entry["projectId"] = id.string();
        entry["updatedAt"] = snapshot.updatedAt.isoSeconds();
        entry["previewTabs"] = snapshot.previewTabs.toJson();
        projects.push_back(std::move(entry));
    }
    Json envelope = Json::object();
    envelope["version"] = databaseVersion;
    envelope["projects"] = std::move(projects);
    std::string text;
    try {
        text = json::encode(envelope);
    } catch (const std::exception& encodeError) {
        return PreviewTabsPersistenceError{PreviewTabsPersistenceError::Code::encodeFailed,
                                           encodeError.what()};
    }

    if (unreadableDatabaseOnDisk_) {
        // The old file holds other projects' tabs this run could not read: keep it before replacing it.
        std::error_code error;
        fs::path backup = databasePath_.string() + ".bak";
        if (fs::exists(fs::symlink_status(databasePath_, error))) fs::rename(databasePath_, backup, error);
        if (error) {
            std::string reason = "could not keep the unreadable database as " + backup.filename().string() +
                                 ": " + error.message();
            logger_.error("previewTabs: failed to write database: " + reason);
            return PreviewTabsPersistenceError{PreviewTabsPersistenceError::Code::writeFailed, reason};
        }
        unreadableDatabaseOnDisk_ = false;
    }
    if (auto writeError = writeFileAtomically(databasePath_, text)) {
        logger_.error("previewTabs: failed to write database: " + writeError.message());
        return PreviewTabsPersistenceError{PreviewTabsPersistenceError::Code::writeFailed,
                                           writeError.message()};
    }
    return std::nullopt;
}

std::optional<fs::path> PreviewTabsPersistenceService::resolvedRootPath(
    const ProjectMetadata& project) const {
    std::error_code error;
    fs::path root = fs::absolute(expandTilde(project.rootPath, homePath_), error).lexically_normal();
    if (error || !fs::is_directory(root, error)) return std::nullopt;
    return root;
}

std::optional<std::string> PreviewTabsPersistenceService::sanitize(const std::string& relativePath,
                                                                   const std::string& homePath) {
    std::string expanded = expandTilde(relativePath, homePath);
    const bool absolute = expanded.starts_with('/');
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= expanded.size()) {
        std::size_t end = expanded.find('/', start);
        if (end == std::string::npos) end = expanded.size();
        std::string component = expanded.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".") continue;
        if (component == "..") {
            if (!components.empty()) {
                components.pop_back();
            } else if (!absolute) {
                return std::nullopt;  // climbs above the root
            }
            continue;
        }
        components.push_back(std::move(component));
    }
    std::string cleaned;
    for (const auto& component : components) {
        if (!cleaned.empty()) cleaned.push_back('/');
        cleaned += component;
    }
    return cleaned;
}

std::vector<PreviewTabWarning> PreviewTabsPersistenceService::detectMissingTabs(
    const PreviewTabsState& state, const ProjectMetadata& project) const {
    std::vector<PreviewTabWarning> warnings;
    auto root = resolvedRootPath(project);
    for (const auto& tab : state.tabs) {
        bool present = false;
        if (root) {
            auto cleaned = sanitize(tab.path, homePath_);
            if (cleaned && !cleaned->empty()) {
                std::error_code error;
                auto status = fs::status(*root / *cleaned, error);
                present = fs::exists(status) && !fs::is_directory(status);
            }
        }
        if (!present) warnings.push_back(PreviewTabWarning::fileMissing(tab.id, tab.path));
    }
    return warnings;
}

}  // namespace pelko
