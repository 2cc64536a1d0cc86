#pragma once
// ExplorerService: the file explorer's one-level folder listings and the change watch of the active
// project.
//
// Listing (`listDirectories`) is synchronous and blocking, touches no state of the service and may run
// on any thread; it never recurses, never fails as a whole (each requested path gets its own entry)
// and never throws. Names that are not valid UTF-8 are kept. Requested paths follow ProjectPath's
// rule (a leading "/" is refused) and every folder is found and listed through descriptors beneath
// an open descriptor of the root (ProjectDirectory), so a folder swapped for a link leading out is
// never listed.
//
// Watching: one project at a time. `activateMonitoring` and `stopMonitoring` are called on the main
// thread. Raw events arrive on the watcher's thread, are reduced to the folders whose listings they
// change, and are gathered on the debounce queue until `debounceInterval` passes without a further
// relevant event; then one ExplorerChangeBatch goes to `onChange` through the callback executor (the
// main queue by default). Every activation gets a new generation; work of an older generation is
// dropped at every step, so after `stopMonitoring` (or a new activation) returns, no batch of the
// earlier watch reaches any handler. The service owns its watcher; destroying the service stops it.
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "explorer/ExplorerChangeBatch.hpp"
#include "explorer/ExplorerDirectorySnapshot.hpp"
#include "explorer/ExplorerEventWatching.hpp"
#include "explorer/ExplorerExclusionRules.hpp"
#include "explorer/ExplorerNodePayload.hpp"
#include "platform/ProjectDirectory.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class SerialQueue;

class ExplorerService {
  public:
    using ChangeHandler = std::function<void(const ExplorerChangeBatch&)>;
    // Runs a closure where change handlers must run (the main queue in the application).
    using CallbackExecutor = std::function<void(std::function<void()>)>;
    // Makes a watcher for a resolved root folder, which must place no watch inside excluded folders.
    using WatcherFactory = std::function<std::unique_ptr<ExplorerEventWatching>(
        const std::filesystem::path& rootPath, const ExplorerExclusionRules& exclusions)>;

    static constexpr std::chrono::milliseconds defaultDebounceInterval{400};
    static constexpr const char* debounceQueueLabel = "app.pelko.explorer.debounce";

    // Null arguments take the defaults: a new "app.pelko.explorer.debounce" queue, the main queue,
    // a factory making InotifyExplorerWatcher. Starts nothing.
    explicit ExplorerService(std::chrono::milliseconds debounceInterval = defaultDebounceInterval,
                             std::shared_ptr<SerialQueue> debounceQueue = nullptr,
                             CallbackExecutor callbackExecutor = nullptr,
                             WatcherFactory watcherFactory = nullptr);
    ~ExplorerService();
    ExplorerService(const ExplorerService&) = delete;
    ExplorerService& operator=(const ExplorerService&) = delete;

    // Ends the current watch, then watches `rootPath` (resolved as ProjectMetadata::resolveRootFolder) for
    // `projectId`. True when the watcher started; on false the service is left idle.
    bool activateMonitoring(const Uuid& projectId, const std::filesystem::path& rootPath,
                            const std::vector<std::string>& excludedPaths, ChangeHandler onChange);
    // Ends the current watch, if any, and drops whatever it had gathered.
    void stopMonitoring();
    // True while `projectId` is watched and its watcher has its root under watch (false once the root
    // went away and has not been watched again).
    bool isWatching(const Uuid& projectId) const;

    // One entry per requested path, in request order, with error "invalidPath", "excluded", "notFound"
    // or "unreadable" for a path that cannot be listed.
    std::vector<ExplorerDirectorySnapshot> listDirectories(
        const std::filesystem::path& rootPath, const std::vector<std::string>& relativePaths,
        const std::vector<std::string>& excludedPaths) const;

    // ProjectPath::standardize after a leading "~" or "~/" is expanded to the home folder.
    static std::string standardizePath(std::string_view path);
    // ProjectPath::normalize with a leading "/" refused: "" for the root; nullopt when it is absolute,
    // names the home folder or leaves the root.
    static std::optional<std::string> normalizeRelativePath(std::string_view relativePath);
    // `path` relative to `rootPath` ("" for the root itself); nullopt when outside. Works for "/".
    static std::optional<std::string> relativePath(std::string_view path, std::string_view rootPath);
    // The real folder for a normalized relative path under a resolved root; nullopt when it does not
    // exist, is not a folder, or resolves outside the root.
    static std::optional<std::filesystem::path> resolveDirectory(std::string_view relativePath,
                                                                 const std::filesystem::path& resolvedRoot);
    // The listed children of a resolved folder: folders and regular files only (links are never
    // followed), exclusions hidden, folders first, then by name case-insensitively in the user's
    // locale, byte order breaking ties. nullopt when the folder cannot be read.
    static std::optional<std::vector<ExplorerNodePayload>> listDirectChildren(
        const std::filesystem::path& directory, const std::filesystem::path& resolvedRoot,
        const ExplorerExclusionRules& exclusions);

  private:
    // The listed children of the folder a walk beneath the root yielded.
    static std::optional<std::vector<ExplorerNodePayload>> listFolder(
        const ProjectDirectory::Entry& entry, const ExplorerExclusionRules& exclusions);

    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace pelko
