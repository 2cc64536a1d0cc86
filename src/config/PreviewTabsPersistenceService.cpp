#include "config/PreviewTabsPersistenceService.hpp"

#include <utility>

#include "platform/AtomicFile.hpp"
#include "platform/Json.hpp"
#include "platform/ProjectDirectory.hpp"
#include "platform/ProjectPath.hpp"
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
    const char* name = code == Code::encodeFailed ? "encodeFailed"
                       : code == Code::tooLarge   ? "tooLarge"
                                                  : "writeFailed";
    return detail.empty() ? std::string(name) : std::string(name) + " (detail: " + detail + ")";
}

PreviewTabsPersistenceService::PreviewTabsPersistenceService(fs::path storageDirectory, SystemLogger logger)
    : storageDirectory_(std::move(storageDirectory)),
      databasePath_(storageDirectory_ / "projects.db"),
      logger_(std::move(logger)),
      queue_(std::make_unique<SerialQueue>("app.pelko.preview-tabs.persistence")) {
    ensureStorageDirectoryExists();
    if (auto removed = removeStaleTemporaries(storageDirectory_, "projects.db"))
        logger_.notice("previewTabs: removed " + std::to_string(removed) +
                       " temporary files of interrupted saves");
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
            // A database written before the bound existed: such an entry would cost every
            // activation of its project a check of each tab on disk.
            if (snapshot.previewTabs.tabs.size() > PreviewTabsState::maxTabs) {
                logger_.notice("previewTabs: dropped the snapshot of project " + snapshot.projectId.string() +
                               ": " + std::to_string(snapshot.previewTabs.tabs.size()) + " tabs, more than " +
                               std::to_string(PreviewTabsState::maxTabs));
                continue;
            }
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
    if (snapshot.tabs.size() > PreviewTabsState::maxTabs) {
        return PreviewTabsPersistenceError{PreviewTabsPersistenceError::Code::tooLarge,
                                           std::to_string(snapshot.tabs.size()) + " tabs"};
    }
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
        fs::path kept;
        if (auto error = keepUnreadableFile(databasePath_, kept)) {
            std::string reason = "could not keep the unreadable database: " + error.message();
            logger_.error("previewTabs: failed to write database: " + reason);
            return PreviewTabsPersistenceError{PreviewTabsPersistenceError::Code::writeFailed, reason};
        }
        if (!kept.empty())
            logger_.notice("previewTabs: kept the unreadable database as " + kept.filename().string());
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
    fs::path root = project.rootFolder();
    if (root.empty() || !fs::is_directory(root, error)) return std::nullopt;
    return root;
}

std::optional<std::string> PreviewTabsPersistenceService::sanitize(std::string_view relativePath) {
    return ProjectPath::normalize(relativePath);
}

std::vector<PreviewTabWarning> PreviewTabsPersistenceService::detectMissingTabs(
    const PreviewTabsState& state, const ProjectMetadata& project) const {
    // At most PreviewTabsState::maxTabs walks, each beneath one descriptor of the root: a tab's path
    // never probes what exists outside the project.
    std::vector<PreviewTabWarning> warnings;
    auto rootPath = resolvedRootPath(project);
    auto root = rootPath ? ProjectDirectory::open(*rootPath) : std::nullopt;
    for (const auto& tab : state.tabs) {
        bool present = false;
        auto cleaned = root ? sanitize(tab.path) : std::nullopt;
        if (cleaned && !cleaned->empty()) {
            ResolveError error;
            auto entry = root->resolve(*cleaned, ProjectDirectory::FinalLink::follow, error);
            present = entry && entry->status && !S_ISDIR(entry->status->st_mode);
        }
        if (!present) warnings.push_back(PreviewTabWarning::fileMissing(tab.id, tab.path));
    }
    return warnings;
}

}  // namespace pelko
