#pragma once
// GitWorkingTreePayload: the "git/working-tree" event, with its section, entry and summary records.
// Plain values.
//
// JSON keys in field order: {"projectId", "sections", "summary"}; a section {"id" ("staged",
// "unstaged", "untracked", "conflicted"), "entries"}; an entry {"path", "oldPath"?, "staged"?
// {"status"}, "unstaged"? {"status"}, "isUntracked", "intentToAdd", "renameScore"?}; the summary
// {"total", "staged", "unstaged", "untracked"}. Optional keys are left out when absent.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "git/GitWorkingTreeEntry.hpp"
#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

struct GitWorkingTreeEntryPayload {
    std::string path;
    std::optional<std::string> oldPath;
    std::optional<std::string> staged;
    std::optional<std::string> unstaged;
    bool isUntracked = false;
    bool intentToAdd = false;
    std::optional<std::int64_t> renameScore;

    static GitWorkingTreeEntryPayload from(const GitWorkingTreeEntry& entry);
    Json toJson() const;
    friend bool operator==(const GitWorkingTreeEntryPayload&, const GitWorkingTreeEntryPayload&) = default;
};

struct GitWorkingTreeSectionPayload {
    std::string id;
    std::vector<GitWorkingTreeEntryPayload> entries;

    friend bool operator==(const GitWorkingTreeSectionPayload&,
                           const GitWorkingTreeSectionPayload&) = default;
};

struct GitWorkingTreeSummaryPayload {
    std::int64_t total = 0;
    std::int64_t staged = 0;
    std::int64_t unstaged = 0;
    std::int64_t untracked = 0;

    friend bool operator==(const GitWorkingTreeSummaryPayload&,
                           const GitWorkingTreeSummaryPayload&) = default;
};

struct GitWorkingTreePayload {
    std::string projectId;
    std::vector<GitWorkingTreeSectionPayload> sections;
    GitWorkingTreeSummaryPayload summary;

    // Groups the entries into the four sections (a conflicted entry only into "conflicted"; one both
    // staged and unstaged into both), each sorted by path, with the counts.
    static GitWorkingTreePayload make(const std::vector<GitWorkingTreeEntry>& entries, const Uuid& projectId);

    Json toJson() const;
    friend bool operator==(const GitWorkingTreePayload&, const GitWorkingTreePayload&) = default;
};

}  // namespace pelko
