#pragma once
// GitCommitGraphPayload: the "git/graph" event (GitCommitGraphNodePayload, GitCommitGraphEdgePayload)
// and the lane layout that builds it from GitHub's commits. Plain values; the layout is pure.
//
// JSON keys in field order, all always present: "projectId", "nodes" [{"oid", "lane", "branchColor",
// "messageHeadline", "authorName", "committedDate"}], "edges" [{"from", "to", "lane"}].
#include <cstdint>
#include <string>
#include <vector>

#include "git/GitHubHistoryResponse.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct GitCommitGraphNodePayload {
    std::string oid;
    std::int64_t lane = 0;
    std::string branchColor;
    std::string messageHeadline;
    std::string authorName;
    std::string committedDate;

    Json toJson() const;
    friend bool operator==(const GitCommitGraphNodePayload&, const GitCommitGraphNodePayload&) = default;
};

struct GitCommitGraphEdgePayload {
    std::string from;
    std::string to;
    std::int64_t lane = 0;

    Json toJson() const;
    friend bool operator==(const GitCommitGraphEdgePayload&, const GitCommitGraphEdgePayload&) = default;
};

struct GitCommitGraphPayload {
    std::string projectId;
    std::vector<GitCommitGraphNodePayload> nodes;
    std::vector<GitCommitGraphEdgePayload> edges;

    Json toJson() const;
    friend bool operator==(const GitCommitGraphPayload&, const GitCommitGraphPayload&) = default;
};

// The colour of a lane: eight colours, repeating.
const std::string& commitGraphLaneColor(std::int64_t lane);

// Lays the commits (newest first) out in lanes: a commit takes the lane where a child waits for it,
// else the lowest free lane; its first parent continues on its lane, later parents take free lanes.
GitCommitGraphPayload buildCommitGraphPayload(const std::string& projectId,
                                              const std::vector<GitHubHistoryResponse::CommitNode>& commits);

}  // namespace pelko
