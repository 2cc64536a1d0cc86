#include "git/GitBranchMapRanking.hpp"

#include <time.h>

#include <algorithm>

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

std::map<std::string, std::vector<GitBranchMapOverlapPayload>> GitBranchMapRanking::computeOverlaps(
    const std::vector<OpenBranch>& branches) {
    std::map<std::string, std::vector<GitBranchMapOverlapPayload>> table;
    std::vector<std::set<std::string>> sets;
    for (const auto& branch : branches)
        sets.emplace_back(branch.changedFiles.begin(), branch.changedFiles.end());
    for (std::size_t first = 0; first < branches.size(); ++first) {
        for (std::size_t second = first + 1; second < branches.size(); ++second) {
            std::vector<std::string> common;
            std::set_intersection(sets[first].begin(), sets[first].end(), sets[second].begin(),
                                  sets[second].end(), std::back_inserter(common));
            if (common.empty()) continue;
            auto count = static_cast<std::int64_t>(common.size());
            common.resize(std::min(common.size(), maxSamplePaths));
            table[branches[first].name].push_back({branches[second].name, count, common});
            table[branches[second].name].push_back({branches[first].name, count, common});
        }
    }
    for (auto& [name, list] : table) {
        std::stable_sort(list.begin(), list.end(),
                         [](const auto& a, const auto& b) { return a.branch < b.branch; });
    }
    return table;
}

void GitBranchMapRanking::applyPriority(std::vector<GitBranchMapNodePayload>& nodes,
                                        const std::optional<std::string>& baseBranch,
                                        const std::map<std::string, std::set<std::string>>& descendants,
                                        Date now) {
    std::set<std::string> relevant;
    auto current = std::find_if(nodes.begin(), nodes.end(), [](const auto& node) { return node.isCurrent; });
    if (current != nodes.end()) {
        relevant.insert(current->name);
        for (const auto& [name, set] : descendants) {
            if (set.contains(current->name)) relevant.insert(name);
        }
    }
    if (baseBranch) relevant.insert(*baseBranch);
    std::optional<Date> threshold = staleThreshold(now);

    for (auto& node : nodes) {
        if (relevant.contains(node.name)) {
            node.priority = 0;
        } else if (node.inUseByOtherWorktree) {
            node.priority = 1;
        } else if (node.hasConflicts || node.hasUncommittedChanges || node.pushState == "unpushed" ||
                   !node.overlaps.empty()) {
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

}  // namespace pelko
