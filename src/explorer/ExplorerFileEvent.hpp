#pragma once
// ExplorerFileEvent: one raw file-system change as a watcher reports it, before debouncing.
//
// `path` is absolute. `requiresResync` says the watcher could not keep track (events lost, a watch
// that could not be placed, the watched root deleted or moved): the whole tree must be read again.
#include <string>

namespace pelko {

enum class ExplorerFileItemKind { file, directory, unknown };

enum class ExplorerFileChangeKind { created, removed, renamed, modified, unknown };

struct ExplorerFileEvent {
    std::string path;
    ExplorerFileItemKind itemKind = ExplorerFileItemKind::unknown;
    ExplorerFileChangeKind changeKind = ExplorerFileChangeKind::unknown;
    bool requiresResync = false;

    friend bool operator==(const ExplorerFileEvent&, const ExplorerFileEvent&) = default;
};

}  // namespace pelko
