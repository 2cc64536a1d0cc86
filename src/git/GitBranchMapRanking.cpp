#include "git/GitBranchMapRanking.hpp"

#include <time.h>

#include <algorithm>
#include <unordered_map>

#include "platform/CutText.hpp"

namespace pelko {
namespace {

constexpr std::size_t maxSamplePaths = 5;

// Now minus 30 days in the local calendar (a day across a clock change is not 24 hours).
std::optional<Date> staleThreshold(Date now) {
    time_t seconds = static_cast<time_t>(now.seconds());
    tm local{};
    if (!localtime_r(&seconds, &local)) return std::nullopt;
    local.tm_mday -= 30;
    local.tm_isdst = -1;
    time_t shifted = mktime(&local);
    if (shifted == static_cast<time_t>(-1)) return std::nullopt;
    return Date::fromSeconds(shifted);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

GitBranchMapRanking::Overlaps::Overlaps(const std::vector<OpenBranch>& branches) {
    for (const auto& branch : branches) {
        indexOf_.emplace(branch.name, names_.size());
        names_.push_back(branch.name);
        auto& list = files_.emplace_back(branch.changedFiles);
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
    }
    for (std::size_t branch = 0; branch < files_.size(); ++branch) {
        for (const auto& path : files_[branch]) branchesOf_[path].push_back(branch);
    }
}

std::set<std::string> GitBranchMapRanking::Overlaps::overlapping() const {
    std::set<std::string> names;
    for (const auto& [path, sharing] : branchesOf_) {
        if (sharing.size() < 2) continue;
        for (std::size_t branch : sharing) names.insert(names_[branch]);
    }
    return names;
}

std::vector<GitBranchMapOverlapPayload> GitBranchMapRanking::Overlaps::of(const std::string& name) const {
    std::vector<GitBranchMapOverlapPayload> list;
    auto found = indexOf_.find(name);
    if (found == indexOf_.end()) return list;
    const std::size_t branch = found->second;
    // Every other branch sharing a path, with the shared paths in sorted order.
    std::map<std::size_t, std::vector<std::string_view>> shared;
    for (const auto& path : files_[branch]) {
        for (std::size_t other : branchesOf_.at(path)) {
            if (other != branch) shared[other].push_back(path);
        }
    }
    for (const auto& [other, paths] : shared) {
        GitBranchMapOverlapPayload overlap{names_[other], static_cast<std::int64_t>(paths.size()), {}};
        for (std::size_t sample = 0; sample < std::min(paths.size(), maxSamplePaths); ++sample)
            overlap.samplePaths.emplace_back(CutText::head(paths[sample], maxPathBytes));
        list.push_back(std::move(overlap));
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a.branch < b.branch; });
    if (list.size() > maxOverlaps) list.resize(maxOverlaps);
    return list;
}

void GitBranchMapRanking::applyPriority(std::vector<GitBranchMapNodePayload>& nodes,
                                        const std::set<std::string>& relevant,
                                        const std::set<std::string>& overlapping, Date now) {
    std::optional<Date> threshold = staleThreshold(now);
    for (auto& node : nodes) {
        if (relevant.contains(node.name)) {
            node.priority = 0;
        } else if (node.inUseByOtherWorktree) {
            node.priority = 1;
        } else if (node.hasConflicts || node.hasUncommittedChanges || node.pushState == "unpushed" ||
                   !node.overlaps.empty() || overlapping.contains(node.name)) {
            node.priority = 2;
        } else if (node.mergeState == "mergedWithFollowUp" || node.mergeState == "undetermined") {
            node.priority = 3;
        } else if (node.isCleanupCandidate) {
            node.priority = 4;
        } else {
            std::optional<Date> date = node.lastCommitDate ? parseDate(*node.lastCommitDate) : std::nullopt;
            node.priority = threshold && date && *date >= *threshold ? 5 : 6;
        }
    }
}

std::optional<Date> GitBranchMapRanking::parseDate(std::string_view text) {
    if (auto date = Date::parseIso(text); date && text.size() > 10 && text[10] == 'T') return date;
    // "2024-05-01 12:00:00 +0200"
    if (text.size() != 25 || text[10] != ' ' || text[19] != ' ' || (text[20] != '+' && text[20] != '-')) {
        return std::nullopt;
    }
    if (!std::all_of(text.begin() + 21, text.end(), isDigit)) return std::nullopt;
    std::string iso = std::string(text.substr(0, 10)) + "T" + std::string(text.substr(11, 8)) +
                      std::string(text.substr(20, 3)) + ":" + std::string(text.substr(23, 2));
    return Date::parseIso(iso);
}

void GitBranchMapRanking::sortNodes(std::vector<GitBranchMapNodePayload>& nodes) {
    std::stable_sort(nodes.begin(), nodes.end(), [](const auto& a, const auto& b) {
        if (a.priority != b.priority) return a.priority < b.priority;
        return a.lastCommitDate.value_or("") > b.lastCommitDate.value_or("");
    });
}

std::vector<GitBranchMapNodePayload> GitBranchMapRanking::boundedNodes(
    const std::vector<GitBranchMapNodePayload>& nodes, std::int64_t limit) {
    if (limit < 1 || nodes.size() <= static_cast<std::size_t>(limit)) return nodes;
    std::vector<GitBranchMapNodePayload> taken(nodes.begin(), nodes.begin() + limit);
    std::vector<GitBranchMapNodePayload> kept;
    for (auto node = nodes.begin() + limit; node != nodes.end(); ++node) {
        if (node->isCurrent || node->isBase) kept.push_back(*node);
    }
    if (kept.empty()) return taken;
    // Make room from the end, but never at the cost of a current or base node already taken.
    std::size_t toRemove = kept.size();
    for (auto node = taken.end(); node != taken.begin() && toRemove > 0;) {
        --node;
        if (node->isCurrent || node->isBase) continue;
        node = taken.erase(node);
        --toRemove;
    }
    taken.insert(taken.end(), kept.begin(), kept.end());
    sortNodes(taken);
    return taken;
}

std::vector<GitBranchMapNodePayload> GitBranchMapRanking::withinBytes(
    std::vector<GitBranchMapNodePayload> nodes, std::size_t maxBytes,
    const std::function<void(GitBranchMapNodePayload&)>& complete) {
    // As the bridge writes it, with the comma between nodes.
    auto size = [](const GitBranchMapNodePayload& node) { return json::encode(node.toJson()).size() + 1; };
    auto kept = [](const GitBranchMapNodePayload& node) { return node.isCurrent || node.isBase; };
    std::size_t reserved = 0;
    for (auto& node : nodes) {
        if (!kept(node)) continue;
        complete(node);
        reserved += size(node);
    }
    std::size_t room = maxBytes > reserved ? maxBytes - reserved : 0;
    std::vector<GitBranchMapNodePayload> result;
    bool full = false;
    for (auto& node : nodes) {
        if (kept(node)) {
            result.push_back(std::move(node));
            continue;
        }
        if (full) continue;
        complete(node);
        std::size_t bytes = size(node);
        if (bytes > room) {
            full = true;
            continue;
        }
        room -= bytes;
        result.push_back(std::move(node));
    }
    return result;
}

}  // namespace pelko
