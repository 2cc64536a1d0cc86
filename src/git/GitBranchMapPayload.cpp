#include "git/GitBranchMapPayload.hpp"

namespace pelko {
namespace {

template <typename T>
void putOptional(Json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

}  // namespace

Json GitBranchMapOverlapPayload::toJson() const {
    Json object = Json::object();
    object["branch"] = branch;
    object["fileCount"] = fileCount;
    object["samplePaths"] = samplePaths;
    return object;
}

Json GitBranchMapNodePayload::toJson() const {
    Json object = Json::object();
    object["name"] = name;
    putOptional(object, "recentSubject", recentSubject);
    object["isCurrent"] = isCurrent;
    object["isBase"] = isBase;
    putOptional(object, "parent", parent);
    object["parentConfidence"] = parentConfidence;
    object["mergeState"] = mergeState;
    putOptional(object, "undeterminedReason", undeterminedReason);
    putOptional(object, "integration", integration);
    putOptional(object, "aheadOfBase", aheadOfBase);
    putOptional(object, "behindBase", behindBase);
    putOptional(object, "changedFileCount", changedFileCount);
    object["location"] = location;
    object["pushState"] = pushState;
    putOptional(object, "unpushedCount", unpushedCount);
    object["inUseByOtherWorktree"] = inUseByOtherWorktree;
    putOptional(object, "worktreePath", worktreePath);
    object["hasUncommittedChanges"] = hasUncommittedChanges;
    object["hasConflicts"] = hasConflicts;
    putOptional(object, "lastCommitDate", lastCommitDate);
    object["isCleanupCandidate"] = isCleanupCandidate;
    Json list = Json::array();
    for (const auto& overlap : overlaps) list.push_back(overlap.toJson());
    object["overlaps"] = std::move(list);
    object["priority"] = priority;
    return object;
}

Json GitBranchMapPayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    putOptional(object, "baseBranch", baseBranch);
    putOptional(object, "currentBranch", currentBranch);
    putOptional(object, "headSha", headSha);
    object["repositoryState"] = repositoryState;
    object["isShallow"] = isShallow;
    object["hasRemote"] = hasRemote;
    Json list = Json::array();
    for (const auto& node : nodes) list.push_back(node.toJson());
    object["nodes"] = std::move(list);
    object["totalCount"] = totalCount;
    object["truncatedCount"] = truncatedCount;
    object["generatedAt"] = generatedAt;
    return object;
}

Json GitBranchMapErrorPayload::toJson() const {
    Json object = Json::object();
    object["projectId"] = projectId;
    object["message"] = message;
    return object;
}

}  // namespace pelko
