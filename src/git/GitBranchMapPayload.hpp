#pragma once
// GitBranchMapPayload: the "git/branch-map" event, with GitBranchMapNodePayload (one branch),
// GitBranchMapOverlapPayload (files a branch shares with another open branch) and
// GitBranchMapErrorPayload ("git/branch-map/error"). Plain values.
//
// JSON keys in field order; absent optionals are left out, arrays are always present.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

struct GitBranchMapOverlapPayload {
    std::string branch;
    std::int64_t fileCount = 0;
    std::vector<std::string> samplePaths;

    Json toJson() const;
    friend bool operator==(const GitBranchMapOverlapPayload&, const GitBranchMapOverlapPayload&) = default;
};

struct GitBranchMapNodePayload {
    std::string name;
    std::optional<std::string> recentSubject;
    bool isCurrent = false;
    bool isBase = false;
    std::optional<std::string> parent;
    std::string parentConfidence;  // "confirmed", "estimated", "undetermined" (past the map's bounds)
    std::string mergeState;        // "base", "merged", "unmerged", "mergedWithFollowUp", "undetermined"
    std::optional<std::string>
        undeterminedReason;                  // "shallow", "baseUnknown", "commandFailed", "historyTooLong"
    std::optional<std::string> integration;  // "fastForward", "mergeCommit", "unknown"
    std::optional<std::int64_t> aheadOfBase;
    std::optional<std::int64_t> behindBase;
    std::optional<std::int64_t> changedFileCount;
    std::string location;   // "local", "localAndRemote", "remoteOnly"
    std::string pushState;  // "pushed", "unpushed", "noUpstream"
    std::optional<std::int64_t> unpushedCount;
    bool inUseByOtherWorktree = false;
    std::optional<std::string> worktreePath;
    bool hasUncommittedChanges = false;
    bool hasConflicts = false;
    std::optional<std::string> lastCommitDate;
    bool isCleanupCandidate = false;
    std::vector<GitBranchMapOverlapPayload> overlaps;
    std::int64_t priority = 0;

    Json toJson() const;
    friend bool operator==(const GitBranchMapNodePayload&, const GitBranchMapNodePayload&) = default;
};

struct GitBranchMapPayload {
    std::string projectId;
    std::optional<std::string> baseBranch;
    std::optional<std::string> currentBranch;
    std::optional<std::string> headSha;
    std::string repositoryState;  // "ready", "detached", "noCommits", "notARepository"
    bool isShallow = false;
    bool hasRemote = false;
    std::vector<GitBranchMapNodePayload> nodes;
    std::int64_t totalCount = 0;
    std::int64_t truncatedCount = 0;
    std::string generatedAt;

    Json toJson() const;
};

struct GitBranchMapErrorPayload {
    std::string projectId;
    std::string message;

    Json toJson() const;
};

}  // namespace pelko
