#include "git/GitBranchAnalysisContainment.hpp"

#include <algorithm>
#include <bit>
#include <string>
#include <unordered_map>

#include "git/GitOutputText.hpp"

namespace pelko {

std::optional<GitBranchAnalysisContainment> GitBranchAnalysisContainment::build(
    std::string_view graph, const GitBranchAnalysis::BranchRefs& refs, std::size_t maxBits) {
    std::unordered_map<std::string_view, std::size_t> nodes;
    auto nodeOf = [&](std::string_view sha) { return nodes.emplace(sha, nodes.size()).first->second; };
    // (node, its parents) in the listing's order.
    std::vector<std::pair<std::size_t, std::vector<std::size_t>>> lines;
    for (auto line : GitOutputText::nonEmptyLines(graph)) {
        auto fields = GitOutputText::split(GitOutputText::trim(line), " ");
        std::size_t node = nodeOf(fields[0]);
        std::vector<std::size_t> parents;
        for (std::size_t index = 1; index < fields.size(); ++index) {
            if (!fields[index].empty()) parents.push_back(nodeOf(fields[index]));
        }
        lines.emplace_back(node, std::move(parents));
    }
    const std::size_t branches = refs.all().size();
    GitBranchAnalysisContainment table;
    table.words_ = (branches + 63) / 64;
    if (table.words_ != 0 && nodes.size() > maxBits / (table.words_ * 64)) return std::nullopt;
    table.bits_.assign(nodes.size() * table.words_, 0);
    table.tipNode_.assign(branches, none);
    table.copyNodes_.resize(branches);
    auto find = [&](const std::optional<std::string>& sha) {
        if (!sha) return none;
        auto found = nodes.find(*sha);
        return found == nodes.end() ? none : found->second;
    };
    for (std::size_t branch = 0; branch < branches; ++branch) {
        std::size_t node = find(GitBranchAnalysis::tip(refs.all()[branch]));
        table.tipNode_[branch] = node;
        if (node != none) table.bits_[node * table.words_ + branch / 64] |= std::uint64_t{1} << (branch % 64);
    }
    // Parents come after their children, so from the end every parent's row is complete before use.
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        std::uint64_t* target = table.bits_.data() + line->first * table.words_;
        for (std::size_t parent : line->second) {
            const std::uint64_t* source = table.row(parent);
            for (std::size_t word = 0; word < table.words_; ++word) target[word] |= source[word];
        }
    }
    table.rowCount_.resize(nodes.size());
    for (std::size_t node = 0; node < nodes.size(); ++node) {
        std::size_t count = 0;
        for (std::size_t word = 0; word < table.words_; ++word) count += std::popcount(table.row(node)[word]);
        table.rowCount_[node] = count;
    }
    for (std::size_t branch = 0; branch < branches; ++branch) {
        if (table.tipNode_[branch] != none) table.copyNodes_[branch].push_back(table.tipNode_[branch]);
    }
    for (const auto& copy : refs.copies()) {
        std::size_t node = find(copy.sha);
        auto& list = table.copyNodes_[copy.branch];
        if (node != none && std::find(list.begin(), list.end(), node) == list.end()) list.push_back(node);
    }
    table.tipHoldsCopies_.assign(branches, true);
    for (std::size_t branch = 0; branch < branches; ++branch) {
        const auto& list = table.copyNodes_[branch];
        if (list.empty()) continue;
        const std::uint64_t* tipRow = table.row(list.front());
        for (std::size_t index = 1; index < list.size(); ++index) {
            const std::uint64_t* copyRow = table.row(list[index]);
            for (std::size_t word = 0; word < table.words_; ++word) {
                if (copyRow[word] & ~tipRow[word]) {
                    table.tipHoldsCopies_[branch] = false;
                    break;
                }
            }
        }
    }
    return table;
}

std::vector<std::uint64_t> GitBranchAnalysisContainment::historyOf(std::size_t branch) const {
    std::vector<std::uint64_t> set(words_, 0);
    for (std::size_t node : copyNodes_[branch]) {
        const std::uint64_t* source = row(node);
        for (std::size_t word = 0; word < words_; ++word) set[word] |= source[word];
    }
    return set;
}

std::optional<GitBranchAnalysis::Parent> GitBranchAnalysisContainment::parentOf(
    std::size_t branch, std::size_t base, const GitBranchAnalysis::BranchRefs& refs, std::size_t& work,
    std::size_t maxWork) const {
    const auto& all = refs.all();
    auto spend = [&](std::size_t amount) {
        work += amount;
        return work <= maxWork;
    };
    if (!spend(words_ * (copyNodes_[branch].size() + 1))) return std::nullopt;
    const std::vector<std::uint64_t> history = historyOf(branch);
    const std::uint64_t* held = history.data();
    const bool baseHeld = base < all.size() && has(held, base);

    std::optional<std::size_t> best;
    std::size_t bestAncestors = 0;
    std::string_view bestDate;
    for (std::size_t word = 0; word < words_; ++word) {
        for (std::uint64_t rest = held[word]; rest != 0; rest &= rest - 1) {
            std::size_t candidate = word * 64 + static_cast<std::size_t>(std::countr_zero(rest));
            if (candidate == branch || candidate == base || tipNode_[candidate] == none) continue;
            if (!spend(1)) return std::nullopt;
            // The other candidates in this candidate's history: the branches held by both, less the
            // candidate itself, the branch and the base.
            std::size_t both;
            std::vector<std::uint64_t> own;
            const std::uint64_t* candidateRow;
            if (tipHoldsCopies_[candidate]) {
                candidateRow = row(tipNode_[candidate]);
                both = rowCount_[tipNode_[candidate]];
            } else {
                if (!spend(words_ * (copyNodes_[candidate].size() + 1))) return std::nullopt;
                own = historyOf(candidate);
                candidateRow = own.data();
                both = 0;
                for (std::size_t index = 0; index < words_; ++index)
                    both += std::popcount(own[index] & held[index]);
            }
            std::size_t ancestors = both - 1 - (has(candidateRow, branch) ? 1 : 0) -
                                    (baseHeld && has(candidateRow, base) ? 1 : 0);
            std::string_view date = all[candidate].date ? std::string_view(*all[candidate].date) : "";
            if (!best || ancestors > bestAncestors || (ancestors == bestAncestors && date > bestDate)) {
                best = candidate;
                bestAncestors = ancestors;
                bestDate = date;
            }
        }
    }
    if (!best) return GitBranchAnalysis::Parent{all[base].name, "confirmed"};
    return GitBranchAnalysis::Parent{all[*best].name, "estimated"};
}

}  // namespace pelko
