#include "git/GitWorkingTreePayload.hpp"

#include <algorithm>

namespace pelko {

GitWorkingTreeEntryPayload GitWorkingTreeEntryPayload::from(const GitWorkingTreeEntry& entry) {
    return {entry.path,        entry.oldPath,     entry.stagedStatus, entry.unstagedStatus,
            entry.isUntracked, entry.intentToAdd, entry.renameScore};
}

Json GitWorkingTreeEntryPayload::toJson() const {
    Json json{{"path", path}};
    if (oldPath) json["oldPath"] = *oldPath;
    if (staged) json["staged"] = Json{{"status", *staged}};
    if (unstaged) json["unstaged"] = Json{{"status", *unstaged}};
    json["isUntracked"] = isUntracked;
    json["intentToAdd"] = intentToAdd;
    if (renameScore) json["renameScore"] = *renameScore;
    return json;
}

GitWorkingTreePayload GitWorkingTreePayload::make(const std::vector<GitWorkingTreeEntry>& entries,
                                                  const Uuid& projectId) {
    std::vector<GitWorkingTreeEntryPayload> staged, unstaged, untracked, conflicted;
    for (const auto& entry : entries) {
        auto payload = GitWorkingTreeEntryPayload::from(entry);
        if (entry.isConflicted) {
            conflicted.push_back(payload);
            continue;
        }
        if (entry.isUntracked) untracked.push_back(payload);
        if (entry.stagedStatus) staged.push_back(payload);
        if (entry.unstagedStatus && !entry.isUntracked) unstaged.push_back(payload);
    }
    auto byPath = [](const GitWorkingTreeEntryPayload& a, const GitWorkingTreeEntryPayload& b) {
        return a.path < b.path;
    };
    for (auto* list : {&staged, &unstaged, &untracked, &conflicted}) {
        std::stable_sort(list->begin(), list->end(), byPath);
    }

    GitWorkingTreePayload payload;
    payload.projectId = projectId.string();
    payload.summary.staged = static_cast<std::int64_t>(staged.size());
    payload.summary.unstaged = static_cast<std::int64_t>(unstaged.size());
    payload.summary.untracked = static_cast<std::int64_t>(untracked.size());
    payload.summary.total = payload.summary.staged + payload.summary.unstaged + payload.summary.untracked +
                            static_cast<std::int64_t>(conflicted.size());
    payload.sections = {{"staged", std::move(staged)},
                        {"unstaged", std::move(unstaged)},
                        {"untracked", std::move(untracked)},
                        {"conflicted", std::move(conflicted)}};
    return payload;
}

Json GitWorkingTreePayload::toJson() const {
    Json sectionArray = Json::array();
    for (const auto& section : sections) {
        Json entryArray = Json::array();
        for (const auto& entry : section.entries) entryArray.push_back(entry.toJson());
        sectionArray.push_back(Json{{"id", section.id}, {"entries", std::move(entryArray)}});
    }
    return Json{{"projectId", projectId},
                {"sections", std::move(sectionArray)},
                {"summary",
                 {{"total", summary.total},
                  {"staged", summary.staged},
                  {"unstaged", summary.unstaged},
                  {"untracked", summary.untracked}}}};
}

}  // namespace pelko
