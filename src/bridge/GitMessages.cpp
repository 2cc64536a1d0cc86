#include "bridge/GitMessages.hpp"

#include <algorithm>

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgePayloads.hpp"
#include "bridge/WebBridge.hpp"

namespace pelko {

void GitMessages::handle(BridgeContext& context, const std::string& type, const Json* payload) {
    auto git = context.gitService.lock();
    if (!git) return;
    auto projectID = json::uuidField(payload, "projectId");
    if (type == "git/status") {
        // Only an absent identifier means the active project; one that cannot be read is dropped.
        if (!projectID && json::field(payload, "projectId")) return;
        git->refreshStatus(projectID);
        return;
    }
    if (!projectID) return;
    const Uuid& id = *projectID;

    if (type == "git/status/detail") {
        git->fetchStatusDetail(id);
    } else if (type == "git/commit") {
        auto message = json::stringField(payload, "message");
        if (!message) return;
        git->commit(id, *message);
    } else if (type == "git/push") {
        git->push(id);
    } else if (type == "git/pull") {
        git->pull(id);
    } else if (type == "git/fetch") {
        git->fetch(id);
    } else if (type == "git/diff") {
        std::vector<GitDiffTarget> targets;
        const Json* list = json::field(payload, "targets");
        bool allObjects =
            list && list->is_array() &&
            std::all_of(list->begin(), list->end(), [](const Json& e) { return e.is_object(); });
        if (allObjects) {
            for (const auto& element : *list) {
                auto path = json::stringField(&element, "path");
                if (!path) continue;
                auto stageText = json::stringField(&element, "stage");
                GitDiffStage stage = GitDiffStage::unstaged;
                if (stageText == "staged") stage = GitDiffStage::staged;
                if (stageText == "head") stage = GitDiffStage::head;
                targets.push_back({*path, stage});
            }
        }
        git->fetchDiff(id, targets);
    } else if (type == "git/commit/diff") {
        auto commit = json::stringField(payload, "commit");
        if (!commit) return;
        git->fetchCommitDiff(id, *commit, json::stringField(payload, "path"));
    } else if (type == "git/working-tree") {
        git->fetchWorkingTree(id);
    } else if (type == "git/branch-map") {
        std::int64_t limit = json::integerField(payload, "limit").value_or(50);
        git->fetchBranchMap(id, limit);
    } else if (type == "git/history") {
        auto cursor = json::stringField(payload, "cursorPayload");
        if (!cursor) cursor = json::stringField(payload, "cursor");
        std::int64_t pageSize = json::integerField(payload, "pageSize").value_or(20);
        auto requestId = json::stringField(payload, "requestId");
        git->fetchCommitHistory(id, cursor, pageSize, requestId);
    } else if (type == "git/graph") {
        std::int64_t pageSize = json::integerField(payload, "pageSize").value_or(50);
        git->fetchCommitGraph(id, pageSize);
    } else if (type == "git/remote/tracking") {
        git->fetchRemoteTracking(id);
    } else if (type == "git/refresh/barrier") {
        auto requestId = json::stringField(payload, "requestId");
        if (!requestId) return;
        git->reachRefreshBarrier(id, *requestId);
    }
}

// ---------------------------------------------------------------------------------------------------
// Git events (GitServiceEventSink, any thread)

void WebBridge::gitServiceDidUpdateStatus(const GitStatusPayload& payload) {
    dispatchEvent("git/status", payload.toJson());
}

void WebBridge::gitServiceDidSucceed(const std::string& message) {
    dispatchEvent("git/result", GitResultPayload{true, message}.toJson());
}

void WebBridge::gitServiceDidFail(const std::string& message) {
    dispatchEvent("git/result", GitResultPayload{false, message}.toJson());
}

void WebBridge::gitServiceDidLoadDiff(const GitDiffPayload& payload) {
    dispatchEvent("git/diff", payload.toJson());
}

void WebBridge::gitServiceDidLoadCommitDiff(const GitCommitDiffPayload& payload) {
    dispatchEvent("git/commit/diff", payload.toJson());
}

void WebBridge::gitServiceDidLoadWorkingTree(const GitWorkingTreePayload& payload) {
    dispatchEvent("git/working-tree", payload.toJson());
}

void WebBridge::gitServiceDidReachRefreshBarrier(const GitRefreshBarrierPayload& payload) {
    dispatchEvent("git/refresh/barrier", payload.toJson());
}

void WebBridge::gitServiceDidLoadBranchMap(const GitBranchMapPayload& payload) {
    dispatchEvent("git/branch-map", payload.toJson());
}

void WebBridge::gitServiceDidFailBranchMap(const GitBranchMapErrorPayload& payload) {
    dispatchEvent("git/branch-map/error", payload.toJson());
}

void WebBridge::gitServiceDidLoadCommitHistory(const GitCommitHistoryPayload& payload) {
    dispatchEvent("git/history", payload.toJson());
}

void WebBridge::gitServiceDidFailCommitHistory(const GitCommitHistoryErrorPayload& payload) {
    dispatchEvent("git/history/error", payload.toJson());
}

void WebBridge::gitServiceDidLoadCommitGraph(const GitCommitGraphPayload& payload) {
    dispatchEvent("git/graph", payload.toJson());
}

void WebBridge::gitServiceDidLoadStatusDetail(const GitStatusDetailPayload& payload) {
    dispatchEvent("git/status/detail", payload.toJson());
}

void WebBridge::gitServiceDidUpdateRemoteTracking(const GitRemoteTrackingPayload& payload) {
    dispatchEvent("git/remote/tracking", payload.toJson());
}

}  // namespace pelko
