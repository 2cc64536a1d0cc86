#include "explorer/InotifyExplorerWatcher.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "explorer/ExplorerService.hpp"
#include "platform/ProjectPath.hpp"
#include "platform/SystemLogger.hpp"

namespace pelko {

namespace {

constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                     IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                     IN_DONT_FOLLOW;
// While the root is gone: its nearest existing ancestor, for the next folder on the way to appear.
constexpr std::uint32_t kAncestorMask =
    IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

const SystemLogger& logger() {
    static const SystemLogger instance("app.pelko.explorer.inotify", "watcher");
    return instance;
}

std::string joinPath(const std::string& folder, std::string_view name) {
    std::string joined = folder;
    if (!joined.ends_with('/')) joined.push_back('/');
    joined.append(name);
    return joined;
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isSameOrInside(const std::string& path, const std::string& folder) {
    return ProjectPath::relativeTo(path, folder).has_value();
}

}  // namespace

struct InotifyExplorerWatcher::Session {
    std::string root;
    ExplorerExclusionRules exclusions;
    Handler handler;
    int inotifyFd = -1;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    std::thread reader;

    // Touched only by start() before the reader thread exists, then only by the reader thread.
    std::unordered_map<int, std::string> pathByWatch;
    std::unordered_map<std::string, int> watchByPath;
    // Also read by other threads: whether the root is unwatched, from its loss until it is back.
    std::atomic<bool> rootGone{false};
    int ancestorWatch = -1;
    std::string ancestorPath;
    timespec startTime{};
    bool limitLogged = false;  // once per session: a tree over the limit fails on every new folder

    Session(std::string rootPath, ExplorerExclusionRules rules, Handler onEvents)
        : root(std::move(rootPath)), exclusions(std::move(rules)), handler(std::move(onEvents)) {}

    ~Session() {
        if (inotifyFd >= 0) ::close(inotifyFd);
        if (wakeFd >= 0) ::close(wakeFd);
    }

    ExplorerFileEvent resyncEvent() const {
        return {root, ExplorerFileItemKind::directory, ExplorerFileChangeKind::unknown, true};
    }

    // Paths here are built from the root, so a prefix test relates them (no standardizing needed).
    bool isExcluded(const std::string& path) const {
        if (path == root) return false;
        const std::size_t prefix = root.ends_with('/') ? root.size() : root.size() + 1;
        if (path.size() <= prefix || !path.starts_with(root) || path[prefix - 1] != '/') return true;
        return exclusions.contains(std::string_view(path).substr(prefix));
    }

    void remember(int watch, const std::string& path) {
        auto known = pathByWatch.find(watch);
        if (known != pathByWatch.end()) {
            if (known->second == path) return;
            watchByPath.erase(known->second);
        }
        pathByWatch[watch] = path;
        watchByPath[path] = watch;
    }

    void forget(int watch) {
        auto known = pathByWatch.find(watch);
        if (known == pathByWatch.end()) return;
        auto byPath = watchByPath.find(known->second);
        if (byPath != watchByPath.end() && byPath->second == watch) watchByPath.erase(byPath);
        pathByWatch.erase(known);
    }

    // What a scan reports besides placing watches.
    enum class ScanReport {
        nothing,
        // A folder that just appeared: every entry found in it came before its watch could see it.
        everyEntry,
        // The first scan, running after start() returned: a folder whose entries changed since then
        // (its modification time says so) changed before its watch was placed.
        foldersChangedSinceStart,
    };

    // Watches `folder` and every folder below it that is not excluded. A watch that cannot be placed
    // for lack of watches or memory asks for a resync (once per call).
    void watchTree(const std::string& folder, ScanReport report, std::vector<ExplorerFileEvent>& events) {
        bool resyncAsked = false;
        std::vector<std::string> pending{folder};
        while (!pending.empty() && !stopping.load(std::memory_order_relaxed)) {
            std::string current = std::move(pending.back());
            pending.pop_back();
            int watch = ::inotify_add_watch(inotifyFd, current.c_str(), kWatchMask);
            if (watch < 0) {
                if ((errno == ENOSPC || errno == ENOMEM) && !resyncAsked) {
                    resyncAsked = true;
                    if (!limitLogged) {
                        limitLogged = true;
                        logger().error(
                            "cannot watch more folders (inotify watch limit reached); asking for a resync");
                    }
                    events.push_back(resyncEvent());
                }
                continue;
            }
            remember(watch, current);
            DIR* stream = ::opendir(current.c_str());
            if (!stream) continue;
            if (report == ScanReport::foldersChangedSinceStart && changedSinceStart(::dirfd(stream))) {
                events.push_back(
                    {current, ExplorerFileItemKind::directory, ExplorerFileChangeKind::modified, false});
            }
            while (const dirent* entry = ::readdir(stream)) {
                std::string_view name(entry->d_name);
                if (name == "." || name == "..") continue;
                unsigned char kind = entry->d_type;
                if (kind == DT_UNKNOWN) {
                    struct stat info {};
                    if (::fstatat(::dirfd(stream), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
                    kind = S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
                }
                auto path = joinPath(current, name);
                if (report == ScanReport::everyEntry) {
                    events.push_back(
                        {path, kind == DT_DIR ? ExplorerFileItemKind::directory : ExplorerFileItemKind::file,
                         ExplorerFileChangeKind::created, false});
                }
                if (kind == DT_DIR && !isExcluded(path)) pending.push_back(std::move(path));
            }
            ::closedir(stream);
        }
    }

    // File-system timestamps come from the coarse clock (or a finer one, read later), so a change
    // made after start() never carries a time before the coarse clock's reading there.
    bool changedSinceStart(int folderFd) const {
        struct stat info {};
        if (::fstat(folderFd, &info) != 0) return true;
        if (info.st_mtim.tv_sec != startTime.tv_sec) return info.st_mtim.tv_sec > startTime.tv_sec;
        return info.st_mtim.tv_nsec >= startTime.tv_nsec;
    }

    void unwatchTree(const std::string& folder) {
        std::vector<int> watches;
        for (const auto& [watch, path] : pathByWatch) {
            if (isSameOrInside(path, folder)) watches.push_back(watch);
        }
        for (int watch : watches) {
            ::inotify_rm_watch(inotifyFd, watch);
            forget(watch);
        }
    }

    // A folder moved inside the tree keeps its watches (inotify follows the inode); only the paths
    // they stand for change.
    void retargetTree(const std::string& from, const std::string& to) {
        std::vector<std::pair<int, std::string>> moved;
        for (const auto& [watch, path] : pathByWatch) {
            if (isSameOrInside(path, from)) moved.emplace_back(watch, to + path.substr(from.size()));
        }
        for (const auto& [watch, path] : moved) forget(watch);
        for (const auto& [watch, path] : moved) remember(watch, path);
    }

    void rootLost(ExplorerFileChangeKind change, std::vector<ExplorerFileEvent>& events) {
        if (rootGone) return;
        rootGone = true;
        events.push_back({root, ExplorerFileItemKind::directory, change, true});
        // The tree is no longer where its paths say; nothing more can be reported reliably.
        for (const auto& [watch, path] : pathByWatch) ::inotify_rm_watch(inotifyFd, watch);
        pathByWatch.clear();
        watchByPath.clear();
        awaitRoot(events);
    }

    void dropAncestorWatch() {
        if (ancestorWatch >= 0) ::inotify_rm_watch(inotifyFd, ancestorWatch);
        ancestorWatch = -1;
        ancestorPath.clear();
    }

    // The root when it exists, else its nearest ancestor that does.
    std::string nearestExistingFolder() const {
        std::string path = root;
        while (!isFolder(path)) {
            auto slash = path.rfind('/');
            if (slash == std::string::npos || path == "/") break;
            path = slash == 0 ? std::string("/") : path.substr(0, slash);
        }
        return path;
    }

    // While the root is gone: watches the nearest existing folder above it until the root is back,
    // then watches the tree again and asks for a resync. Looks again after each watch is placed, so
    // a folder that appeared meanwhile is not missed, and when the folder went before its watch was
    // placed. When no watch can be placed otherwise the wait ends; the next activation starts a new
    // watch.
    void awaitRoot(std::vector<ExplorerFileEvent>& events) {
        while (rootGone && !stopping.load(std::memory_order_relaxed)) {
            std::string nearest = nearestExistingFolder();
            if (nearest == root) {
                dropAncestorWatch();
                watchTree(root, ScanReport::nothing, events);
                if (!watchByPath.count(root)) continue;  // gone again before its watch was placed
                rootGone = false;
                events.push_back(resyncEvent());
                return;
            }
            if (ancestorWatch >= 0 && nearest == ancestorPath) return;
            dropAncestorWatch();
            int watch = ::inotify_add_watch(inotifyFd, nearest.c_str(), kAncestorMask);
            // Gone between the look and the watch (its whole branch being deleted): look again.
            if (watch < 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
            if (watch < 0) return;
            ancestorWatch = watch;
            ancestorPath = nearest;
        }
    }

    struct MoveSource {
        std::string path;
        bool isDirectory;
    };

    std::vector<ExplorerFileEvent> translate(const char* buffer, ssize_t length) {
        std::vector<ExplorerFileEvent> events;
        std::unordered_map<std::uint32_t, MoveSource> movesFrom;
        bool overflowHandled = false;
        for (const char* cursor = buffer; cursor < buffer + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(cursor);
            cursor += sizeof(inotify_event) + event->len;

            if (event->mask & IN_Q_OVERFLOW) {
                if (rootGone) {
                    awaitRoot(events);
                    continue;
                }
                if (overflowHandled) continue;
                overflowHandled = true;
                logger().notice("inotify queue overflowed; asking for a resync");
                events.push_back(resyncEvent());
                // Folders created meanwhile went unseen: watch them now.
                watchTree(root, ScanReport::nothing, events);
                continue;
            }
            if (rootGone && event->wd == ancestorWatch) {
                // The ancestor went (look higher up) or gained a folder (perhaps the next one down).
                if (event->mask & IN_IGNORED) ancestorWatch = -1;
                if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_ISDIR)) awaitRoot(events);
                continue;
            }
            auto known = pathByWatch.find(event->wd);
            if (known == pathByWatch.end()) continue;
            const std::string folder = known->second;
            const bool isRoot = folder == root;

            if (event->mask & IN_IGNORED) {
                forget(event->wd);
                continue;
            }
            if (event->mask & IN_UNMOUNT) {
                if (isRoot) rootLost(ExplorerFileChangeKind::removed, events);
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                // Below the root, the parent's own event says the same thing.
                if (isRoot) {
                    rootLost(event->mask & IN_DELETE_SELF ? ExplorerFileChangeKind::removed
                                                          : ExplorerFileChangeKind::renamed,
                             events);
                }
                continue;
            }

            const bool isDirectory = event->mask & IN_ISDIR;
            const auto itemKind = isDirectory ? ExplorerFileItemKind::directory : ExplorerFileItemKind::file;
            const std::string path = event->len > 0 ? joinPath(folder, event->name) : folder;
            // An event on the watched folder itself (no name) is a change of that folder.
            const auto selfKind = event->len > 0 ? itemKind : ExplorerFileItemKind::directory;

            if (event->mask & IN_CREATE) {
                events.push_back({path, itemKind, ExplorerFileChangeKind::created, false});
                if (isDirectory && !isExcluded(path)) watchTree(path, ScanReport::everyEntry, events);
            } else if (event->mask & IN_DELETE) {
                events.push_back({path, itemKind, ExplorerFileChangeKind::removed, false});
            } else if (event->mask & IN_MOVED_FROM) {
                events.push_back({path, itemKind, ExplorerFileChangeKind::renamed, false});
                movesFrom[event->cookie] = {path, isDirectory};
            } else if (event->mask & IN_MOVED_TO) {
                events.push_back({path, itemKind, ExplorerFileChangeKind::renamed, false});
                if (!isDirectory) {
                    movesFrom.erase(event->cookie);
                    continue;
                }
                auto source = movesFrom.find(event->cookie);
                if (source != movesFrom.end()) {
                    const std::string from = source->second.path;
                    movesFrom.erase(source);
                    if (isExcluded(path)) {
                        unwatchTree(from);
                    } else if (watchByPath.count(from)) {
                        retargetTree(from, path);
                    } else {
                        watchTree(path, ScanReport::everyEntry, events);
                    }
                } else if (!isExcluded(path)) {
                    // Moved in from outside the tree: everything in it is new here.
                    watchTree(path, ScanReport::everyEntry, events);
                }
            } else if (event->mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB)) {
                events.push_back({path, selfKind, ExplorerFileChangeKind::modified, false});
            }
        }
        // A move whose other half never came left the tree.
        for (const auto& [cookie, source] : movesFrom) {
            if (source.isDirectory) unwatchTree(source.path);
        }
        return events;
    }

    void run() {
        // The first scan runs here, not in start(): a large tree must not hold up the caller. Events
        // of folders already watched wait in the kernel queue meanwhile; a folder not watched yet is
        // reported when its entries changed after start(), so no change after start() goes unseen.
        std::vector<ExplorerFileEvent> scanEvents;
        watchTree(root, ScanReport::foldersChangedSinceStart, scanEvents);
        if (!scanEvents.empty() && !stopping.load()) handler(std::move(scanEvents));
        alignas(inotify_event) char buffer[64 * 1024];
        while (!stopping.load()) {
            pollfd descriptors[2] = {{inotifyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            int ready = ::poll(descriptors, 2, -1);
            if (ready < 0) {
                if (errno == EINTR) continue;
                logger().error("poll on the inotify descriptor failed");
                break;
            }
            if (descriptors[1].revents != 0 || stopping.load()) break;
            if (descriptors[0].revents & (POLLERR | POLLHUP | POLLNVAL)) break;
            ssize_t length = ::read(inotifyFd, buffer, sizeof buffer);
            if (length <= 0) continue;
            auto events = translate(buffer, length);
            if (!events.empty() && !stopping.load()) handler(std::move(events));
        }
    }
};

InotifyExplorerWatcher::InotifyExplorerWatcher(std::filesystem::path rootPath,
                                               ExplorerExclusionRules exclusions)
    : rootPath_(std::move(rootPath)), exclusions_(std::move(exclusions)) {}

InotifyExplorerWatcher::~InotifyExplorerWatcher() {
    stop();
}

bool InotifyExplorerWatcher::start(Handler handler) {
    stop();
    auto session = std::make_shared<Session>(ExplorerService::standardizePath(rootPath_.string()),
                                             exclusions_, std::move(handler));
    session->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    session->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (session->inotifyFd < 0 || session->wakeFd < 0) {
        logger().error("cannot create an inotify instance");
        return false;
    }
    ::clock_gettime(CLOCK_REALTIME_COARSE, &session->startTime);
    int rootWatch = ::inotify_add_watch(session->inotifyFd, session->root.c_str(), kWatchMask);
    if (rootWatch < 0) return false;
    session->remember(rootWatch, session->root);
    // A handler that calls stop() waits here until the session is published.
    std::lock_guard guard(mutex_);
    session->reader = std::thread([session] {
        // Thread names are limited to 15 characters.
        ::pthread_setname_np(::pthread_self(), "app.pelko.explo");
        session->run();
    });
    session_ = std::move(session);
    return true;
}

bool InotifyExplorerWatcher::isWatchingRoot() const {
    std::lock_guard guard(mutex_);
    return session_ && !session_->rootGone;
}

void InotifyExplorerWatcher::stop() {
    std::shared_ptr<Session> session;
    {
        std::lock_guard guard(mutex_);
        session = std::exchange(session_, nullptr);
    }
    if (!session) return;
    session->stopping.store(true);
    std::uint64_t one = 1;
    while (::write(session->wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    if (session->reader.get_id() == std::this_thread::get_id()) {
        // Called from the handler: the reader ends after it returns, and drops the session then.
        session->reader.detach();
        return;
    }
    if (session->reader.joinable()) session->reader.join();
    session->handler = nullptr;
}

}  // namespace pelko
