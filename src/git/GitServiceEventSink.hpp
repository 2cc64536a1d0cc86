#pragma once
// GitServiceEventSink: how the Git service reports to the page, one operation per event.
//
// Called from the Git service's own queues; the implementation encodes on the calling thread and
// never waits for the main thread. Events from one queue reach the page in call order. The Git
// service holds its sink weakly. Each record is encoded whole (its toJson).
#include <string>

#include "git/GitBranchMapPayload.hpp"
#include "git/GitCommitDiffPayload.hpp"
#include "git/GitCommitGraphPayload.hpp"
#include "git/GitCommitHistoryPayload.hpp"
#include "git/GitDiffPayload.hpp"
#include "git/GitRefreshBarrierPayload.hpp"
#include "git/GitRemoteTrackingPayload.hpp"
#include "git/GitStatusDetailPayload.hpp"
#include "git/GitStatusPayload.hpp"
#include "git/GitWorkingTreePayload.hpp"
#include "github/GitOAuthStatusPayload.hpp"
#include "platform/Json.hpp"

namespace pelko {

class GitServiceEventSink {
  public:
    virtual ~GitServiceEventSink() = default;
    virtual void gitServiceDidUpdateStatus(const GitStatusPayload& payload) = 0;        // "git/status"
    virtual void gitServiceDidSucceed(const std::string& message) = 0;                  // "git/result"
    virtual void gitServiceDidFail(const std::string& message) = 0;                     // "git/result"
    virtual void gitServiceDidLoadDiff(const GitDiffPayload& payload) = 0;              // "git/diff"
    virtual void gitServiceDidLoadCommitDiff(const GitCommitDiffPayload& payload) = 0;  // "git/commit/diff"
    virtual void gitServiceDidLoadWorkingTree(
        const GitWorkingTreePayload& payload) = 0;  // "git/working-tree"
    virtual void gitServiceDidReachRefreshBarrier(
        const GitRefreshBarrierPayload& payload) = 0;                                 // "git/refresh/barrier"
    virtual void gitServiceDidLoadBranchMap(const GitBranchMapPayload& payload) = 0;  // "git/branch-map"
    virtual void gitServiceDidFailBranchMap(
        const GitBranchMapErrorPayload& payload) = 0;  // "git/branch-map/error"
    virtual void gitServiceDidLoadCommitHistory(const GitCommitHistoryPayload& payload) = 0;  // "git/history"
    virtual void gitServiceDidFailCommitHistory(
        const GitCommitHistoryErrorPayload& payload) = 0;  // "git/history/error"
    virtual void gitServiceDidLoadCommitGraph(const GitCommitGraphPayload& payload) = 0;  // "git/graph"
    virtual void gitServiceDidLoadStatusDetail(
        const GitStatusDetailPayload& payload) = 0;  // "git/status/detail"
    virtual void gitServiceDidUpdateRemoteTracking(
        const GitRemoteTrackingPayload& payload) = 0;  // "git/remote/tracking"
    virtual void gitServiceDidUpdateOAuthStatus(
        const GitOAuthStatusPayload& payload) = 0;  // "github/oauth/status"
};

}  // namespace pelko
