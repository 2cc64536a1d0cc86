#pragma once
// PreviewTabsPersistenceService: keeps each project's preview tabs in "projects.db" between runs.
//
// The database is read once, synchronously, by the constructor; afterwards the in-memory map lives on
// the private serial queue "app.pelko.preview-tabs.persistence" and both public operations wait for
// it, so saves and lookups are strictly ordered and the file is written by one thread at a time. Every
// save rewrites the whole file atomically; entries are never removed. A database that could not be
// read (or has an unsupported version) is kept beside it as "projects.db.corrupt-<UTC time>" (a name
// of its own, so no earlier copy is replaced) before the first save replaces it. Snapshots hold at most
// PreviewTabsState::maxTabs tabs: larger ones are refused when saved and dropped (with a log line) when
// loaded, so the missing-file check, which runs on the caller's thread, is bounded; it walks beneath a
// descriptor of the project's root and never looks outside it. Construction sweeps the temporary files of
// saves that a killed process left behind. Nothing here talks to the page; failures are logged (subsystem
// "app.pelko.preview-tabs", category "persistence") and save failures are returned.
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "config/PreviewTabsHydrationResult.hpp"
#include "config/PreviewTabsState.hpp"
#include "config/ProjectMetadata.hpp"
#include "platform/Date.hpp"
#include "platform/SystemLogger.hpp"
#include "platform/Uuid.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

class SerialQueue;

struct PreviewTabsPersistenceError {
    enum class Code { encodeFailed, writeFailed, tooLarge };
    Code code;
    std::string detail;

    // "writeFailed (detail: ...)", or the case name alone without detail.
    std::string description() const;
};

class PreviewTabsPersistenceService final {
  public:
    // The database is `storageDirectory`/"projects.db"; the folder is created when missing.
    explicit PreviewTabsPersistenceService(
        std::filesystem::path storageDirectory = XdgFolders::process().appData(),
        SystemLogger logger = SystemLogger("app.pelko.preview-tabs", "persistence"));
    ~PreviewTabsPersistenceService();
    PreviewTabsPersistenceService(const PreviewTabsPersistenceService&) = delete;
    PreviewTabsPersistenceService& operator=(const PreviewTabsPersistenceService&) = delete;

    const std::filesystem::path& databasePath() const { return databasePath_; }

    // The project's stored state (the empty state when none, or when it has an unsupported version)
    // with a warning for each tab whose file is missing under `project.rootPath`.
    PreviewTabsHydrationResult hydrateSnapshot(const ProjectMetadata& project);
    // Stores `snapshot` (as version 1, stamped now) under `project.id` and rewrites the database. On
    // a write failure the state stays in memory and the file keeps its previous content; a state of
    // more than PreviewTabsState::maxTabs tabs is refused (tooLarge) and changes nothing.
    std::optional<PreviewTabsPersistenceError> persist(const PreviewTabsState& snapshot,
                                                       const ProjectMetadata& project);

    // The tab path cleaned for the missing-file check (ProjectPath::normalize: a leading "/" names the
    // root; "~", NUL and climbing above the root are refused).
    static std::optional<std::string> sanitize(std::string_view relativePath);

  private:
    // One database entry; "updatedAt" is informational and read by nothing.
    struct ProjectSnapshot {
        Uuid projectId;
        Date updatedAt;
        PreviewTabsState previewTabs;
    };

    void ensureStorageDirectoryExists() const;
    void loadFromDisk();
    std::optional<PreviewTabsPersistenceError> persistToDisk();
    std::optional<std::filesystem::path> resolvedRootPath(const ProjectMetadata& project) const;
    std::vector<PreviewTabWarning> detectMissingTabs(const PreviewTabsState& state,
                                                     const ProjectMetadata& project) const;

    std::filesystem::path storageDirectory_;
    std::filesystem::path databasePath_;
    SystemLogger logger_;
    std::map<Uuid, ProjectSnapshot> snapshots_;
    // Set when the database on disk could not be used; cleared once it has been kept aside.
    bool unreadableDatabaseOnDisk_ = false;
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace pelko
