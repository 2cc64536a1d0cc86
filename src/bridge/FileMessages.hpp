#pragma once
// FileMessages: the page's explorer listings and file requests ("project/explorer/directories/request",
// "project/file/open", "project/file/save", "project/file/rename") and the explorer watch of the
// active project. Requests are read on the main thread; the file work runs one request at a time, in
// request order, on the bridge's file queue, and the answers are encoded there and delivered on the
// main thread in request order. An unknown project is answered on a later turn of the main queue. A file
// whose content would make a script longer than the web view takes is answered with an error instead.
#include <string>
#include <vector>

#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class BridgeContext;

struct FileMessages {
    static constexpr std::size_t maxExplorerPaths = 512;

    static void handle(BridgeContext& context, const std::string& type, const Json* payload);
    // No-op for the watched project while its root is under watch; otherwise watches the project's
    // root, or stops watching when the project or its folder is unknown.
    static void activateExplorerMonitoring(BridgeContext& context, const Uuid& projectID);
    static void stopExplorerMonitoring(BridgeContext& context);
    static void requestExplorerDirectories(BridgeContext& context, const Uuid& projectID,
                                           const std::vector<std::string>& relativePaths,
                                           const std::string& requestId);
};

}  // namespace pelko
