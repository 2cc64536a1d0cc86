#include "bridge/FileMessages.hpp"

#include <unordered_set>

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgePayloads.hpp"
#include "explorer/ExplorerService.hpp"
#include "platform/MainQueue.hpp"

namespace pelko {

namespace {

void requestFileContent(BridgeContext& context, const Uuid& projectID, const std::string& relativePath,
                        bool allowLargeFile) {
    auto root = context.projectRootPath(projectID);
    if (!root) {
        context.dispatchEventLater(ProjectFileOperations::readProjectMissing(projectID, relativePath));
        return;
    }
    context.fileQueue->async([weak = context.weak_from_this(), operations = context.fileOperations,
                              root = *root, projectID, relativePath, allowLargeFile] {
        if (weak.expired()) return;
        BridgeEvent event = operations->readFile(projectID, root, relativePath, allowLargeFile);
        if (BridgeContext::dispatchEvent(weak, event.type, event.payload)) return;
        event = ProjectFileOperations::readTooLargeToSend(projectID, relativePath);
        BridgeContext::dispatchEvent(weak, event.type, event.payload);
    });
}

void saveFileContent(BridgeContext& context, const Uuid& projectID, const std::string& relativePath,
                     const std::string& content) {
    auto root = context.projectRootPath(projectID);
    if (!root) {
        context.dispatchEventLater(ProjectFileOperations::saveProjectMissing(projectID, relativePath));
        return;
    }
    context.fileQueue->async([weak = context.weak_from_this(), operations = context.fileOperations,
                              root = *root, projectID, relativePath, content] {
        if (weak.expired()) return;
        BridgeEvent event = operations->saveFile(projectID, root, relativePath, content);
        BridgeContext::dispatchEvent(weak, event.type, event.payload);
    });
}

void renameItem(BridgeContext& context, const Uuid& projectID, const std::string& fromPath,
                const std::string& toPath) {
    auto root = context.projectRootPath(projectID);
    if (!root) {
        context.dispatchEventLater(ProjectFileOperations::renameProjectMissing(projectID, fromPath));
        return;
    }
    context.fileQueue->async([weak = context.weak_from_this(), operations = context.fileOperations,
                              root = *root, projectID, fromPath, toPath] {
        if (weak.expired()) return;
        RenameOutcome outcome = operations->renameItem(projectID, root, fromPath, toPath);
        for (const auto& event : outcome.events)
            BridgeContext::dispatchEvent(weak, event.type, event.payload);
        if (!outcome.renamed) return;
        // Queued behind the answers, so the page hears of the rename before the new Git status.
        MainQueue::shared().async([weak, projectID] {
            auto self = weak.lock();
            if (!self) return;
            if (auto git = self->gitService.lock()) git->refreshStatus(projectID);
        });
    });
}

}  // namespace

void FileMessages::handle(BridgeContext& context, const std::string& type, const Json* payload) {
    auto projectID = json::uuidField(payload, "projectId");
    if (!projectID) return;
    if (type == "project/explorer/directories/request") {
        auto paths = json::stringArrayField(payload, "paths");
        if (!paths || paths->empty()) return;
        std::vector<std::string> distinct;
        std::unordered_set<std::string> seen;
        for (auto& path : *paths) {
            if (distinct.size() == maxExplorerPaths) break;
            if (seen.insert(path).second) distinct.push_back(std::move(path));
        }
        std::string requestId = json::stringField(payload, "requestId").value_or(Uuid::random().string());
        requestExplorerDirectories(context, *projectID, distinct, requestId);
        return;
    }
    auto path = json::stringField(payload, "path");
    if (!path) return;
    if (type == "project/file/open") {
        requestFileContent(context, *projectID, *path,
                           json::boolField(payload, "allowLargeFile").value_or(false));
    } else if (type == "project/file/save") {
        auto content = json::stringField(payload, "content");
        if (!content) return;
        saveFileContent(context, *projectID, *path, *content);
    } else if (type == "project/file/rename") {
        auto nextPath = json::stringField(payload, "nextPath");
        if (!nextPath) return;
        renameItem(context, *projectID, *path, *nextPath);
    }
}

void FileMessages::activateExplorerMonitoring(BridgeContext& context, const Uuid& projectID) {
    // The running watch goes on, unless its root went away and is not watched again: then it starts
    // anew (on the root as it is now, or not at all when the root is still missing).
    if (context.monitoredExplorerProjectID == projectID && context.explorerService->isWatching(projectID))
        return;
    auto project = context.project(projectID);
    auto root = project ? context.fileOperations->projectRoot(project->rootPath) : std::nullopt;
    if (!root) {
        stopExplorerMonitoring(context);
        return;
    }
    bool started = context.explorerService->activateMonitoring(
        projectID, *root, project->explorerExcludedPaths,
        [weak = context.weak_from_this()](const ExplorerChangeBatch& batch) {
            auto self = weak.lock();
            if (!self) return;
            self->dispatchEvent(
                "project/explorer/changed",
                ExplorerChangedPayload{batch.projectId.string(), batch.directoryPaths, batch.requiresResync}
                    .toJson());
        });
    context.monitoredExplorerProjectID = started ? std::optional<Uuid>(projectID) : std::nullopt;
}

void FileMessages::stopExplorerMonitoring(BridgeContext& context) {
    context.explorerService->stopMonitoring();
    context.monitoredExplorerProjectID.reset();
}

void FileMessages::requestExplorerDirectories(BridgeContext& context, const Uuid& projectID,
                                              const std::vector<std::string>& relativePaths,
                                              const std::string& requestId) {
    auto project = context.project(projectID);
    auto root = project ? context.fileOperations->projectRoot(project->rootPath) : std::nullopt;
    if (!root) {
        ExplorerDirectoriesPayload payload{projectID.string(), requestId, {}};
        for (const auto& path : relativePaths) payload.directories.push_back({path, {}, "invalidProject"});
        context.dispatchEventLater({"project/explorer/directories", payload.toJson()});
        return;
    }
    context.fileQueue->async([weak = context.weak_from_this(), explorer = context.explorerService,
                              root = *root, paths = relativePaths, excluded = project->explorerExcludedPaths,
                              projectId = projectID.string(), requestId] {
        if (weak.expired()) return;
        ExplorerDirectoriesPayload payload{projectId, requestId,
                                           explorer->listDirectories(root, paths, excluded)};
        BridgeContext::dispatchEvent(weak, "project/explorer/directories", payload.toJson());
    });
}

}  // namespace pelko
