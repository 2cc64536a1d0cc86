#pragma once
// GitHubHistoryQueries: the three GraphQL documents the Git service sends to GitHub, and their
// variables. Constants and pure functions; safe from any thread.
//
// The documents are sent exactly as they stand here (1898, 1570 and 668 bytes, no final line break).
// GitHub accepts `first` only from 1 to 100, so the page size sent is clamped to that range; callers
// keep the page size they were asked for on the local side.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Json.hpp"

namespace pelko {

struct GitHubHistoryQueries {
    static const std::string_view commitHistory;
    static const std::string_view commitHistoryWithoutFiles;
    static const std::string_view commitGraph;

    static std::int64_t clampedPageSize(std::int64_t pageSize);
    // "owner", "name", "qualifiedName" ("refs/heads/" + branch), "pageSize", "cursor" (null when none).
    static Json historyVariables(const std::string& owner, const std::string& name, const std::string& branch,
                                 std::int64_t pageSize, const std::optional<std::string>& cursor);
    // "owner", "name", "pageSize".
    static Json graphVariables(const std::string& owner, const std::string& name, std::int64_t pageSize);
};

}  // namespace pelko
