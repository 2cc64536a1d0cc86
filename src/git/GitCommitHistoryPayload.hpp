#pragma once
// GitCommitHistoryPayload: the "git/history" event (with GitCommitHistoryPageInfoPayload), the
// "git/history/error" event (GitCommitHistoryErrorPayload) and GitCommitHistoryCursor, the paging
// position the page carries back as text. Plain values.
//
// JSON keys in field order; absent optionals are left out. The cursor text is the compact object
// {"remoteCursor", "localOffset"}; reading it needs "localOffset".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "git/GitCommitEdgePayload.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct GitCommitHistoryCursor {
    std::optional<std::string> remoteCursor;
    std::int64_t localOffset = 0;

    std::string text() const;
    // nullopt unless the text is an object with an integer "localOffset".
    static std::optional<GitCommitHistoryCursor> parse(std::string_view text);
};

struct GitCommitHistoryPageInfoPayload {
    bool hasNextPage = false;
    std::optional<std::string> endCursor;

    Json toJson() const;
};

struct GitCommitHistoryPayload {
    std::string projectId;
    std::vector<GitCommitEdgePayload> edges;
    GitCommitHistoryPageInfoPayload pageInfo;
    std::optional<std::string> requestId;
    std::optional<std::string> remoteCursor;
    std::int64_t localOffset = 0;
    std::optional<std::string> cursorPayload;
    std::optional<std::int64_t> remoteRemainingCount;

    Json toJson() const;
};

struct GitCommitHistoryErrorPayload {
    std::string projectId;
    std::string message;
    std::optional<std::string> requestId;

    Json toJson() const;
};

}  // namespace pelko
