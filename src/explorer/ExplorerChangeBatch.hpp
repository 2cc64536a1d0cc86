#pragma once
// ExplorerChangeBatch: one debounced change notice of the watched project.
//
// `directoryPaths` are the folders to list again, relative to the watched root, without duplicates,
// in ascending byte order; the empty string stands for the root. `requiresResync` tells the page to
// read its whole tree again (events were lost, or the root itself went away).
#include <string>
#include <vector>

#include "platform/Uuid.hpp"

namespace pelko {

struct ExplorerChangeBatch {
    Uuid projectId;
    std::vector<std::string> directoryPaths;
    bool requiresResync = false;

    friend bool operator==(const ExplorerChangeBatch&, const ExplorerChangeBatch&) = default;
};

}  // namespace pelko
