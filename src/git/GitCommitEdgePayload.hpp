#pragma once
// GitCommitEdgePayload: one commit of a history page ("git/history"), with GitCommitAuthorPayload and
// GitCommitFileSummaryPayload. Plain values.
//
// JSON keys in field order, all always present except the author's "login" (left out when absent):
// "oid", "messageHeadline", "author" {"name", "login"}, "committedDate" (strict ISO 8601 as the source
// gives it), "files" [{"path", "additions", "deletions"}], "origin" ("local" or "remote").
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

struct GitCommitAuthorPayload {
    std::string name;
    std::optional<std::string> login;

    Json toJson() const;
    friend bool operator==(const GitCommitAuthorPayload&, const GitCommitAuthorPayload&) = default;
};

struct GitCommitFileSummaryPayload {
    std::string path;
    std::int64_t additions = 0;
    std::int64_t deletions = 0;

    Json toJson() const;
    friend bool operator==(const GitCommitFileSummaryPayload&, const GitCommitFileSummaryPayload&) = default;
};

struct GitCommitEdgePayload {
    std::string oid;
    std::string messageHeadline;
    GitCommitAuthorPayload author;
    std::string committedDate;
    std::vector<GitCommitFileSummaryPayload> files;
    std::string origin;

    Json toJson() const;
    friend bool operator==(const GitCommitEdgePayload&, const GitCommitEdgePayload&) = default;
};

}  // namespace pelko
