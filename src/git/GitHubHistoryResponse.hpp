#pragma once
// GitHubHistoryResponse: the `data` member of GitHub's answers to the history and graph queries, and
// the conversion of a returned commit into a GitCommitEdgePayload. Plain values; decoding is pure.
//
// Decoding follows the model strictly: an optional member may be missing or null, a required one that
// is missing or null, or any member of the wrong type, throws DecodeError; unknown keys are ignored.
// `pageInfo` is required only when the caller says so (history answers), since the graph query does
// not select it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "git/GitCommitEdgePayload.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct GitHubHistoryResponse {
    struct CommitUser {
        std::optional<std::string> login;
    };
    struct CommitAuthor {
        std::optional<std::string> name;
        std::optional<CommitUser> user;

        // `name` when not empty, else the user's login when not empty, else nothing.
        std::optional<std::string> displayName() const;
    };
    struct FileNode {
        std::string path;
        std::int64_t additions = 0;
        std::int64_t deletions = 0;
    };
    struct FileConnection {
        std::optional<std::vector<FileNode>> nodes;
    };
    struct ParentNode {
        std::string oid;
    };
    struct ParentConnection {
        std::optional<std::vector<ParentNode>> nodes;
    };
    struct CommitNode {
        std::string oid;
        std::optional<std::string> messageHeadline;
        std::string committedDate;
        std::optional<CommitAuthor> author;
        std::optional<FileConnection> files;
        std::optional<ParentConnection> parents;
    };
    struct Edge {
        CommitNode node;
    };
    struct PageInfo {
        bool hasNextPage = false;
        std::optional<std::string> endCursor;
    };
    struct History {
        std::vector<Edge> edges;
        std::optional<PageInfo> pageInfo;
    };
    struct Target {
        std::optional<History> history;
    };
    struct Ref {
        std::optional<Target> target;
    };
    struct DefaultBranchRef {
        std::optional<Target> target;
    };
    struct Repository {
        std::optional<DefaultBranchRef> defaultBranchRef;
        std::optional<Ref> ref;
    };

    std::optional<Repository> repository;

    // Throws DecodeError.
    static GitHubHistoryResponse decode(const Json& data, bool requirePageInfo);

    // `repository.ref.target.history`, else nullptr.
    const History* refHistory() const;
    // `repository.defaultBranchRef.target.history`, else nullptr.
    const History* defaultBranchHistory() const;
};

// The commit as a history edge with the given origin; the author's display name or "Unknown".
GitCommitEdgePayload makeCommitEdgePayload(const GitHubHistoryResponse::CommitNode& node,
                                           const std::string& origin);

}  // namespace pelko
