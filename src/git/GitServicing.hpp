#pragma once
// GitServicing: the Git operations the page can ask for.
//
// Every operation returns at once after queueing its work on the Git service's own queues (history on
// its concurrent history queue, everything else on its project's serial sequence, in call order); the
// project is looked up when the call is made, and a project nobody configured gets no queue. A refresh
// barrier is answered after all the work of every project requested before it, history aside. Answers
// go to the event sink, which the service holds weakly. Called on the main thread; the service never
// makes the main thread wait for its queues, and its workers never wait for the main thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "git/GitDiffTarget.hpp"
#include "git/GitServiceEventSink.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class GitServicing {
  public:
    virtual ~GitServicing() = default;
    virtual void setEventSink(std::weak_ptr<GitServiceEventSink> sink) = 0;

    // No project: the configuration's active project.
    virtual void refreshStatus(const std::optional<Uuid>& projectID) = 0;
    virtual void fetchStatusDetail(const Uuid& projectID) = 0;
    virtual void commit(const Uuid& projectID, const std::string& message) = 0;
    virtual void push(const Uuid& projectID) = 0;
    virtual void pull(const Uuid& projectID) = 0;
    virtual void fetch(const Uuid& projectID) = 0;
    // An empty list diffs the whole tree, staged and unstaged.
    virtual void fetchDiff(const Uuid& projectID, const std::vector<GitDiffTarget>& targets) = 0;
    virtual void fetchCommitDiff(const Uuid& projectID, const std::string& commit,
                                 const std::optional<std::string>& path) = 0;
    virtual void fetchWorkingTree(const Uuid& projectID) = 0;
    virtual void fetchBranchMap(const Uuid& projectID, std::int64_t limit) = 0;
    virtual void fetchCommitHistory(const Uuid& projectID, const std::optional<std::string>& cursor,
                                    std::int64_t pageSize, const std::optional<std::string>& requestId) = 0;
    virtual void fetchCommitGraph(const Uuid& projectID, std::int64_t pageSize) = 0;
    virtual void fetchRemoteTracking(const Uuid& projectID) = 0;
    virtual void reachRefreshBarrier(const Uuid& projectID, const std::string& requestId) = 0;
    // The orderly end: no new work, running git stopped, workers ended; before the process returns.
    virtual void shutdown() = 0;
};

}  // namespace pelko
