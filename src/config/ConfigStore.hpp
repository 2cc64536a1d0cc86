#pragma once
// ConfigStore: the one owner of the workspace configuration (AppConfig) and its file "config.json".
//
// Main thread only: it has no lock and no queue; other threads hop to the main queue synchronously.
// Every change goes through `update`, is published through Published<AppConfig> (a subscriber gets the
// current value at once, then every later value in order; a change publishes one to three values and
// the last is the final state) and is saved before the call returns. The file is written atomically
// and only by this store; it is read once, by `bootstrap()`, and never watched. Until then the store
// holds the built-in default. A file that could not be read is kept beside the original as
// "config.json.corrupt-<UTC time>" before the first save replaces it. A save that fails is logged and
// the change stays in memory; the next change writes the whole file again. Construction sweeps the
// temporary files of saves that a killed process left behind. Folders whose path is not valid UTF-8
// are refused with a log line, never stored in a form that names another folder.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/AppConfig.hpp"
#include "config/CLISessionConfig.hpp"
#include "config/DashboardProjectProviding.hpp"
#include "config/GitProjectProviding.hpp"
#include "config/ProjectMetadata.hpp"
#include "platform/Published.hpp"
#include "platform/SystemLogger.hpp"
#include "platform/Uuid.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

struct ConfigStoreError {
    enum class Code { readFailed, decodeFailed, encodeFailed, writeFailed };
    Code code;
    std::string detail;

    // "decodeFailed (detail: ...)", or the case name alone without detail.
    std::string description() const;
};

class ConfigStore final : public GitProjectProviding, public DashboardProjectProviding {
  public:
    struct CloseProjectResult {
        std::vector<Uuid> removedSessionIDs;
        std::optional<Uuid> nextActiveID;

        friend bool operator==(const CloseProjectResult&, const CloseProjectResult&) = default;
    };

    // The file is `storageDirectory`/"config.json" (the folder is used as given and created when
    // missing; a failure to create it shows up as failed saves). The home folder is the one project
    // roots are resolved with, XdgFolders::process().home. Reads nothing.
    explicit ConfigStore(const std::filesystem::path& storageDirectory = XdgFolders::process().appData());
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    const std::filesystem::path& filePath() const { return filePath_; }
    const std::string& homePath() const { return homePath_; }

    // GitProjectProviding / DashboardProjectProviding.
    AppConfig config() const override;
    std::optional<ProjectMetadata> project(const Uuid& id) const override;
    std::vector<ProjectMetadata> listActiveProjects() const override;

    [[nodiscard]] Subscription subscribe(std::function<void(const AppConfig&)> handler);

    // Loads the file (defaults pass applied, not written back), or, when there is none, publishes and
    // writes the defaults-pass copy of the built-in default. On failure the configuration is unchanged.
    std::optional<ConfigStoreError> bootstrap();

    // The change path: mutate in place and publish; when `ensureDefaults`, publish the defaults-pass
    // copy; when projects are not empty, copy them into the resume list and publish; then save. A
    // save failure is logged, not returned. Every call publishes and saves, even when nothing changed.
    void update(bool ensureDefaults, const std::function<void(AppConfig&)>& mutate);

    void setActiveProject(const Uuid& id);
    // Named projects first in the given order, the rest after them in their old order. Unknown and
    // repeated identifiers are skipped; an empty list does nothing at all.
    void reorderProjects(const std::vector<Uuid>& ids);
    // Opens existing folders (symbolic links resolved, duplicates collapsed), reusing a project that
    // already has that folder; the first result becomes active and each gets a "CLI #1" session when
    // it has none. Returns the projects in argument order; nothing changes when no folder qualifies.
    std::vector<ProjectMetadata> openProjects(const std::vector<std::filesystem::path>& folders);
    // Wrap around; an absent or unknown identifier gives the first (next) or the last (previous).
    std::optional<ProjectMetadata> nextProject(const std::optional<Uuid>& after) const;
    std::optional<ProjectMetadata> previousProject(const std::optional<Uuid>& before) const;
    // Title defaults to "CLI #<n+1>" with n the sessions of the same project. A session for an unknown
    // project is returned but removed again by the defaults pass.
    CLISessionConfig addCLISession(const std::optional<std::string>& title,
                                   const std::optional<Uuid>& projectId);
    void removeCLISession(const Uuid& id);
    // Removes the project and its sessions (without the defaults pass, so the resume list keeps the
    // closed project when it was the last). nullopt for an unknown project.
    std::optional<CloseProjectResult> closeProject(const Uuid& id);
    // Restores the resume list as the project list; returns the active project afterwards.
    std::optional<Uuid> resumeWorkspace();

  private:
    std::optional<ConfigStoreError> persist();
    // persist(), logging a failure and the first success after failures.
    std::optional<ConfigStoreError> persistReporting();
    bool preserveUnreadableFile();
    std::string workingDirectory(const std::optional<Uuid>& projectId) const;
    static void ensureInitialCLISession(const Uuid& projectId, AppConfig& config,
                                        const std::string& homePath);

    Published<AppConfig> config_;
    std::string homePath_;
    std::filesystem::path filePath_;
    SystemLogger logger_;
    // Set when the file existed but could not be read; cleared once it has been kept aside.
    bool unreadableFileOnDisk_ = false;
    // Saves that failed since the last one that succeeded.
    std::size_t failedSaves_ = 0;
};

}  // namespace pelko
