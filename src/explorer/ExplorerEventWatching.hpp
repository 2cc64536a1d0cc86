#pragma once
// ExplorerEventWatching: a source of raw file-system events under one root folder.
//
// `start` delivers runs of events to the handler, in the order they happened, from one thread of the
// watcher's own, one run at a time; it returns false (and delivers nothing) when watching cannot
// begin. `stop` returns only when no handler call can start any more; a handler call in progress on
// another thread has finished by then. When `stop` is called from inside the handler, the current call
// completes and no further one starts. Destroying the watcher stops it. One `start` at a time: a
// second one stops the first.
#include <functional>
#include <vector>

#include "explorer/ExplorerFileEvent.hpp"

namespace pelko {

class ExplorerEventWatching {
  public:
    using Handler = std::function<void(std::vector<ExplorerFileEvent>)>;

    virtual ~ExplorerEventWatching() = default;
    virtual bool start(Handler handler) = 0;
    virtual void stop() = 0;
    // False while the watcher knows its root to be gone (deleted, moved away, unmounted) and is not
    // watching it again yet. Any thread.
    virtual bool isWatchingRoot() const { return true; }
};

}  // namespace pelko
