#pragma once
// InotifyExplorerWatcher: ExplorerEventWatching over Linux inotify, for a whole folder tree.
//
// One watch per folder: `start` places the root's and returns; the reader thread then watches the
// rest of the tree, and each folder as it appears. A folder that appears with content already inside
// (mkdir -p, a folder moved in) is scanned and its entries reported as created. Renames are paired by cookie
// so watches follow moved folders. No watch is placed inside an excluded folder, and symbolic links are never
// followed. Lost events (queue overflow), a watch that cannot be placed (the per-user watch limit) and the
// root being deleted, moved or unmounted are reported as an event with `requiresResync` set, never dropped
// silently. A root that is gone is waited for: the nearest folder above it that exists is watched
// until the root is there again, which is then watched as a whole again and reported as a resync.
//
// Events are read and delivered on the watcher's own reader thread, which polls the inotify
// descriptor and a wake-up eventfd. `stop` wakes it, cuts a scan short and joins it (from the reader
// thread itself it detaches instead), so the ExplorerEventWatching guarantees hold.
#include <filesystem>
#include <memory>
#include <mutex>

#include "explorer/ExplorerEventWatching.hpp"
#include "explorer/ExplorerExclusionRules.hpp"

namespace pelko {

class InotifyExplorerWatcher final : public ExplorerEventWatching {
  public:
    // `rootPath` is absolute, standardized and free of symbolic links.
    InotifyExplorerWatcher(std::filesystem::path rootPath, ExplorerExclusionRules exclusions);
    ~InotifyExplorerWatcher() override;
    InotifyExplorerWatcher(const InotifyExplorerWatcher&) = delete;
    InotifyExplorerWatcher& operator=(const InotifyExplorerWatcher&) = delete;

    bool start(Handler handler) override;
    void stop() override;
    bool isWatchingRoot() const override;

  private:
    struct Session;
    std::filesystem::path rootPath_;
    ExplorerExclusionRules exclusions_;
    // Guards session_: the handler may call stop() on the reader thread while start() publishes it.
    // Never held while joining the reader.
    mutable std::mutex mutex_;
    std::shared_ptr<Session> session_;
};

}  // namespace pelko
