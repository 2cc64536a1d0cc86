#include "explorer/ExplorerService.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <numeric>
#include <set>

#include "config/ProjectMetadata.hpp"
#include "explorer/InotifyExplorerWatcher.hpp"
#include "platform/Collation.hpp"
#include "platform/MainQueue.hpp"
#include "platform/ProjectPath.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

namespace {

// The project's root rule (ProjectMetadata::resolveRootFolder); a missing root keeps its missing part
// as written, so that its listings answer "notFound" rather than failing.
std::string resolveRoot(const std::filesystem::path& rootPath) {
    return ProjectMetadata::resolveRootFolder(rootPath.string()).string();
}

std::string parentOf(const std::string& relativePath) {
    return std::string(ProjectPath::folderOf(relativePath));
}

struct MonitoringContext {
    Uuid generation;
    Uuid projectId;
    std::string rootPath;
    ExplorerExclusionRules exclusions;
    ExplorerService::ChangeHandler onChange;
};

// One event prepared for a batch.
struct IndexedFileEvent {
    ExplorerFileEvent event;
    std::string standardizedPath;
    std::optional<std::string> directoryPath;
    bool isExcluded = false;
};

std::string affectedDirectory(const ExplorerFileEvent& event, const std::string& relativePath,
                              const std::string& standardizedPath) {
    if (relativePath.empty()) return {};
    switch (event.itemKind) {
        case ExplorerFileItemKind::file:
            return parentOf(relativePath);
        case ExplorerFileItemKind::directory:
            if (event.changeKind == ExplorerFileChangeKind::modified ||
                event.changeKind == ExplorerFileChangeKind::unknown) {
                return relativePath;
            }
            return parentOf(relativePath);
        case ExplorerFileItemKind::unknown:
            break;
    }
    struct stat info {};
    if (::stat(standardizedPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return relativePath;
    return parentOf(relativePath);
}

IndexedFileEvent indexEvent(const ExplorerFileEvent& event, const MonitoringContext& context) {
    IndexedFileEvent indexed{event, ExplorerService::standardizePath(event.path), std::nullopt, false};
    indexed.event.path = indexed.standardizedPath;
    if (indexed.standardizedPath == context.rootPath && event.itemKind == ExplorerFileItemKind::directory &&
        !event.requiresResync) {
        indexed.event.changeKind = ExplorerFileChangeKind::modified;
    }
    auto relative = ExplorerService::relativePath(indexed.standardizedPath, context.rootPath);
    if (!relative) {
        if (event.requiresResync) indexed.directoryPath = std::string();
        return indexed;
    }
    if (context.exclusions.contains(*relative)) {
        indexed.isExcluded = true;
        return indexed;
    }
    indexed.directoryPath = affectedDirectory(indexed.event, *relative, indexed.standardizedPath);
    return indexed;
}

// A folder's own modification adds nothing when the same delivery names something inside it: that
// inner change already reloads the right folder.
bool coveredByInnerChange(const IndexedFileEvent& indexed, const std::vector<std::string>& pathIndex) {
    const auto& event = indexed.event;
    if (event.itemKind != ExplorerFileItemKind::directory || event.requiresResync) return false;
    if (event.changeKind != ExplorerFileChangeKind::modified &&
        event.changeKind != ExplorerFileChangeKind::unknown) {
        return false;
    }
    std::string prefix = indexed.standardizedPath;
    if (!prefix.ends_with('/')) prefix.push_back('/');
    auto found = std::lower_bound(pathIndex.begin(), pathIndex.end(), prefix);
    return found != pathIndex.end() && found->starts_with(prefix);
}

}  // namespace

struct ExplorerService::State : std::enable_shared_from_this<ExplorerService::State> {
    std::chrono::milliseconds debounceInterval;
    std::shared_ptr<SerialQueue> debounceQueue;
    CallbackExecutor callbackExecutor;
    WatcherFactory watcherFactory;

    std::mutex lock;
    std::unique_ptr<ExplorerEventWatching> watcher;
    std::shared_ptr<const MonitoringContext> context;
    std::optional<WorkItem> debounceWorkItem;
    std::set<std::string> pendingDirectoryPaths;
    bool pendingRequiresResync = false;

    bool isMonitoring(const Uuid& generation) {
        std::lock_guard guard(lock);
        return context && context->generation == generation;
    }

    void record(const std::vector<ExplorerFileEvent>& events, const Uuid& generation) {
        std::shared_ptr<const MonitoringContext> current;
        {
            std::lock_guard guard(lock);
            if (!context || context->generation != generation) return;
            current = context;
        }
        std::vector<IndexedFileEvent> indexed;
        indexed.reserve(events.size());
        for (const auto& event : events) indexed.push_back(indexEvent(event, *current));

        std::vector<std::string> pathIndex;
        pathIndex.reserve(indexed.size());
        for (const auto& item : indexed) pathIndex.push_back(item.standardizedPath);
        std::sort(pathIndex.begin(), pathIndex.end());
        pathIndex.erase(std::unique(pathIndex.begin(), pathIndex.end()), pathIndex.end());

        std::set<std::string> directories;
        bool requiresResync = false;
        for (const auto& item : indexed) {
            if (item.isExcluded || !item.directoryPath) continue;
            if (coveredByInnerChange(item, pathIndex)) continue;
            directories.insert(*item.directoryPath);
            requiresResync = requiresResync || item.event.requiresResync;
        }
        if (directories.empty()) return;

        std::optional<WorkItem> previous;
        {
            std::lock_guard guard(lock);
            if (!context || context->generation != generation) return;
            pendingDirectoryPaths.merge(directories);
            pendingRequiresResync = pendingRequiresResync || requiresResync;
            previous = std::exchange(debounceWorkItem, std::nullopt);
            std::weak_ptr<State> weak = weak_from_this();
            debounceWorkItem = debounceQueue->asyncAfter(debounceInterval, [weak, generation] {
                if (auto state = weak.lock()) state->flushChanges(generation);
            });
        }
        if (previous) previous->cancel();
    }

    void flushChanges(const Uuid& generation) {
        ExplorerChangeBatch batch;
        ChangeHandler onChange;
        {
            std::lock_guard guard(lock);
            if (!context || context->generation != generation) return;
            // A flush that had already started when a later delivery re-armed the wait took that
            // delivery's folders; the re-armed flush then finds nothing and sends nothing.
            if (pendingDirectoryPaths.empty() && !pendingRequiresResync) return;
            batch.projectId = context->projectId;
            batch.directoryPaths.assign(pendingDirectoryPaths.begin(), pendingDirectoryPaths.end());
            batch.requiresResync = pendingRequiresResync;
            pendingDirectoryPaths.clear();
            pendingRequiresResync = false;
            debounceWorkItem.reset();
            onChange = context->onChange;
        }
        std::weak_ptr<State> weak = weak_from_this();
        callbackExecutor([weak, generation, batch = std::move(batch), onChange = std::move(onChange)] {
            auto state = weak.lock();
            if (state && state->isMonitoring(generation) && onChange) onChange(batch);
        });
    }

    void stopMonitoring() {
        std::unique_ptr<ExplorerEventWatching> oldWatcher;
        std::optional<WorkItem> workItem;
        {
            std::lock_guard guard(lock);
            oldWatcher = std::move(watcher);
            context.reset();
            pendingDirectoryPaths.clear();
            pendingRequiresResync = false;
            workItem = std::exchange(debounceWorkItem, std::nullopt);
        }
        if (workItem) workItem->cancel();
        if (oldWatcher) oldWatcher->stop();
    }
};

ExplorerService::ExplorerService(std::chrono::milliseconds debounceInterval,
                                 std::shared_ptr<SerialQueue> debounceQueue,
                                 CallbackExecutor callbackExecutor, WatcherFactory watcherFactory)
    : state_(std::make_shared<State>()) {
    state_->debounceInterval = debounceInterval;
    state_->debounceQueue =
        debounceQueue ? std::move(debounceQueue) : std::make_shared<SerialQueue>(debounceQueueLabel);
    state_->callbackExecutor =
        callbackExecutor ? std::move(callbackExecutor)
                         : [](std::function<void()> work) { MainQueue::shared().async(std::move(work)); };
    state_->watcherFactory =
        watcherFactory ? std::move(watcherFactory)
                       : [](const std::filesystem::path& rootPath, const ExplorerExclusionRules& exclusions) {
                             return std::unique_ptr<ExplorerEventWatching>(
                                 std::make_unique<InotifyExplorerWatcher>(rootPath, exclusions));
                         };
}

ExplorerService::~ExplorerService() {
    state_->stopMonitoring();
}

bool ExplorerService::activateMonitoring(const Uuid& projectId, const std::filesystem::path& rootPath,
                                         const std::vector<std::string>& excludedPaths,
                                         ChangeHandler onChange) {
    stopMonitoring();
    auto resolvedRoot = resolveRoot(rootPath);
    ExplorerExclusionRules exclusions(excludedPaths);
    auto watcher = state_->watcherFactory(resolvedRoot, exclusions);
    if (!watcher) return false;
    auto generation = Uuid::random();
    auto context = std::make_shared<const MonitoringContext>(
        MonitoringContext{generation, projectId, resolvedRoot, std::move(exclusions), std::move(onChange)});
    ExplorerEventWatching* started = watcher.get();
    {
        std::lock_guard guard(state_->lock);
        state_->watcher = std::move(watcher);
        state_->context = std::move(context);
    }
    std::weak_ptr<State> weak = state_;
    bool running = started->start([weak, generation](const std::vector<ExplorerFileEvent>& events) {
        if (auto state = weak.lock()) state->record(events, generation);
    });
    if (!running) {
        stopMonitoring();
        return false;
    }
    return true;
}

void ExplorerService::stopMonitoring() {
    state_->stopMonitoring();
}

bool ExplorerService::isWatching(const Uuid& projectId) const {
    std::lock_guard guard(state_->lock);
    return state_->context && state_->context->projectId == projectId && state_->watcher &&
           state_->watcher->isWatchingRoot();
}

std::vector<ExplorerDirectorySnapshot> ExplorerService::listDirectories(
    const std::filesystem::path& rootPath, const std::vector<std::string>& relativePaths,
    const std::vector<std::string>& excludedPaths) const {
    std::vector<ExplorerDirectorySnapshot> snapshots;
    snapshots.reserve(relativePaths.size());
    if (relativePaths.empty()) return snapshots;
    // One descriptor of the root for the whole request: every folder is found by a walk beneath it
    // and listed through the descriptor the walk yields, never by path.
    int rootError = 0;
    const auto root = ProjectDirectory::open(standardizePath(rootPath.string()), &rootError);
    const ExplorerExclusionRules exclusions(excludedPaths);
    for (const auto& requested : relativePaths) {
        auto normalized = normalizeRelativePath(requested);
        if (!normalized) {
            snapshots.push_back({requested, {}, "invalidPath"});
            continue;
        }
        if (exclusions.contains(*normalized)) {
            snapshots.push_back({requested, {}, "excluded"});
            continue;
        }
        // A folder that exists but could not be examined (no descriptor left, no permission) is
        // "unreadable"; one that is missing, no folder, or beyond a link leading out is "notFound".
        ResolveError error{root || rootError == ENOENT || rootError == ENOTDIR ? ResolveError::Code::notFound
                                                                               : ResolveError::Code::failed};
        auto entry =
            root ? root->resolve(*normalized, ProjectDirectory::FinalLink::follow, error) : std::nullopt;
        if (!entry && error.code == ResolveError::Code::failed) {
            snapshots.push_back({*normalized, {}, "unreadable"});
            continue;
        }
        if (!entry || !entry->status || !S_ISDIR(entry->status->st_mode)) {
            snapshots.push_back({requested, {}, "notFound"});
            continue;
        }
        auto children = listFolder(*entry, exclusions);
        if (!children) {
            snapshots.push_back({*normalized, {}, "unreadable"});
            continue;
        }
        snapshots.push_back({*normalized, std::move(*children), std::nullopt});
    }
    return snapshots;
}

std::string ExplorerService::standardizePath(std::string_view path) {
    if (path == "~" || path.starts_with("~/"))
        return ProjectPath::standardize(expandTilde(std::string(path), XdgFolders::process().home));
    return ProjectPath::standardize(path);
}

std::optional<std::string> ExplorerService::normalizeRelativePath(std::string_view relativePath) {
    return ProjectPath::normalize(relativePath, ProjectPath::LeadingSlash::refused);
}

std::optional<std::string> ExplorerService::relativePath(std::string_view path, std::string_view rootPath) {
    return ProjectPath::relativeTo(path, rootPath);
}

std::optional<std::filesystem::path> ExplorerService::resolveDirectory(
    std::string_view relativePath, const std::filesystem::path& resolvedRoot) {
    const auto root = ProjectDirectory::open(resolvedRoot);
    if (!root) return std::nullopt;
    ResolveError error;
    auto entry = root->resolve(relativePath, ProjectDirectory::FinalLink::follow, error);
    if (!entry || !entry->status || !S_ISDIR(entry->status->st_mode)) return std::nullopt;
    if (entry->relativePath.empty()) return resolvedRoot;
    return resolvedRoot / entry->relativePath;
}

std::optional<std::vector<ExplorerNodePayload>> ExplorerService::listDirectChildren(
    const std::filesystem::path& directory, const std::filesystem::path& resolvedRoot,
    const ExplorerExclusionRules& exclusions) {
    const auto folder = relativePath(directory.string(), resolvedRoot.string());
    const auto root = ProjectDirectory::open(resolvedRoot);
    if (!folder || !root) return std::nullopt;
    ResolveError error;
    auto entry = root->resolve(*folder, ProjectDirectory::FinalLink::follow, error);
    if (!entry) return std::nullopt;
    return listFolder(*entry, exclusions);
}

std::optional<std::vector<ExplorerNodePayload>> ExplorerService::listFolder(
    const ProjectDirectory::Entry& entry, const ExplorerExclusionRules& exclusions) {
    // O_NOFOLLOW: a folder swapped for a link since the walk looked at it is not listed.
    UniqueFd folderFd = ProjectDirectory::openItem(entry, O_RDONLY | O_DIRECTORY);
    if (!folderFd.valid()) return std::nullopt;
    DIR* stream = ::fdopendir(folderFd.get());
    if (!stream) return std::nullopt;
    folderFd.release();
    const std::string& folder = entry.relativePath;
    std::vector<ExplorerNodePayload> nodes;
    bool failed = false;
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(stream);
        if (!item) {
            failed = errno != 0;
            break;
        }
        std::string_view name(item->d_name);
        if (name == "." || name == "..") continue;
        auto path = ProjectPath::join(folder, name);
        if (exclusions.contains(path)) continue;
        unsigned char kind = item->d_type;
        if (kind == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(::dirfd(stream), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            kind = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (kind != DT_DIR && kind != DT_REG) continue;
        nodes.push_back({std::string(name), std::move(path),
                         kind == DT_DIR ? ExplorerNodePayload::Type::folder : ExplorerNodePayload::Type::file,
                         std::nullopt});
    }
    ::closedir(stream);
    if (failed) return std::nullopt;

    std::vector<std::string> keys;
    keys.reserve(nodes.size());
    for (const auto& node : nodes) keys.push_back(collationKey(node.name));
    std::vector<std::size_t> order(nodes.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const bool aFolder = nodes[a].type == ExplorerNodePayload::Type::folder;
        const bool bFolder = nodes[b].type == ExplorerNodePayload::Type::folder;
        if (aFolder != bFolder) return aFolder;
        if (int byKey = keys[a].compare(keys[b]); byKey != 0) return byKey < 0;
        return nodes[a].name < nodes[b].name;
    });
    std::vector<ExplorerNodePayload> sorted;
    sorted.reserve(nodes.size());
    for (auto index : order) sorted.push_back(std::move(nodes[index]));
    return sorted;
}

}  // namespace pelko
