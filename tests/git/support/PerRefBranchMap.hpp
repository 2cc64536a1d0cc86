#pragma once
// The branch map computed plainly, branch by branch: the whole commit graph read once, each ref's
// history walked from its tip over it, containment, counts and merge bases read off those histories,
// changed files from one `git diff-tree` of each branch against its merge base, the ref listing with
// every subject, overlaps pair by pair. Quadratic in the branches, so tests only:
// it is the oracle the bounded computation must match byte for byte where it finishes.
#include <fmt/format.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "config/ProjectMetadata.hpp"
#include "git/GitBranchAnalysis.hpp"
#include "git/GitBranchMapPayload.hpp"
#include "git/GitBranchMapRanking.hpp"
#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "git/GitProcessRunning.hpp"
#include "platform/Date.hpp"
#include "platform/Environment.hpp"
#include "platform/SystemLogger.hpp"

namespace pelko::test::perref {

using Analysis = GitBranchAnalysis;
using Text = GitOutputText;

inline std::optional<std::string> nonEmptyText(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

inline std::string refListingFormatWithSubjects() {
    std::string format = "--format=%(refname)";
    for (const char* field :
         {"%(upstream)", "%(objectname)", "%(committerdate:iso8601)", "%(contents:subject)", "%(HEAD)"}) {
        format += GitBranchAnalysis::separator;
        format += field;
    }
    return format;
}

inline GitBranchAnalysis::BranchRefs parseRefListingWithSubjects(std::string_view output,
                                                                 const std::vector<std::string>& remotes) {
    GitBranchAnalysis::BranchRefs refs;
    for (auto line : Text::nonEmptyLines(output)) {
        auto fields = Text::split(line, GitBranchAnalysis::separator);
        if (fields.size() < 6) continue;
        auto branch = GitBranchAnalysis::branchName(fields[0], remotes);
        if (!branch) continue;
        // A subject holding the separator spreads over several fields; the HEAD marker is the last one.
        std::string subjectText(fields[4]);
        for (std::size_t index = 5; index + 1 < fields.size(); ++index) {
            subjectText += GitBranchAnalysis::separator;
            subjectText += fields[index];
        }
        auto upstream = nonEmptyText(fields[1]);
        std::string sha(fields[2]);
        auto date = nonEmptyText(fields[3]);
        auto subject = nonEmptyText(subjectText);
        bool isHead = fields.back() == "*";
        const auto& [name, isRemote] = *branch;

        bool created = false;
        GitBranchAnalysis::BranchRef& ref = refs.entry(name, created);
        if (!isRemote) {
            ref.localSha = sha;
            ref.upstream = upstream;
            if (subject || created) ref.subject = subject;
            ref.date = date;
            ref.isHead = ref.isHead || isHead;
        } else {
            ref.remoteSha = sha;
            ref.remoteRef = std::string(fields[0]);
            if (created || !ref.subject) ref.subject = subject;
            if (created || !ref.date) ref.date = date;
            if (created) ref.isHead = isHead;
        }
    }
    return refs;
}

// Every commit of `git rev-list --parents` with its parents, and the history of any of them: the
// commit and every commit its parents lead to.
class CommitGraph {
  public:
    static CommitGraph parse(std::string_view output) {
        CommitGraph graph;
        for (auto line : Text::nonEmptyLines(output)) {
            auto fields = Text::split(Text::trim(line), " ");
            std::size_t commit = graph.indexOf(fields[0]);
            for (std::size_t field = 1; field < fields.size(); ++field) {
                std::size_t parent = graph.indexOf(fields[field]);
                graph.parents_[commit].push_back(parent);
            }
        }
        return graph;
    }

    std::optional<std::size_t> find(const std::string& sha) const {
        auto found = index_.find(sha);
        if (found == index_.end()) return std::nullopt;
        return found->second;
    }
    const std::string& sha(std::size_t commit) const { return shas_[commit]; }

    const std::vector<bool>& history(std::size_t commit) {
        auto [found, added] = histories_.try_emplace(commit);
        if (!added) return found->second;
        std::vector<bool>& seen = found->second;
        seen.assign(shas_.size(), false);
        std::vector<std::size_t> stack{commit};
        seen[commit] = true;
        while (!stack.empty()) {
            std::size_t next = stack.back();
            stack.pop_back();
            for (std::size_t parent : parents_[next]) {
                if (!seen[parent]) {
                    seen[parent] = true;
                    stack.push_back(parent);
                }
            }
        }
        return seen;
    }

    // The commits in the history of `commit` that the history of `other` lacks.
    std::int64_t countLacking(std::size_t commit, std::size_t other) {
        const auto& mine = history(commit);
        const auto& theirs = history(other);
        std::int64_t count = 0;
        for (std::size_t at = 0; at < shas_.size(); ++at) count += mine[at] && !theirs[at];
        return count;
    }

    // What `git merge-base --all` lists: the commits in both histories without a child in both.
    std::vector<std::size_t> mergeBases(std::size_t first, std::size_t second) {
        const auto& left = history(first);
        const auto& right = history(second);
        std::vector<bool> hasCommonChild(shas_.size(), false);
        for (std::size_t at = 0; at < shas_.size(); ++at) {
            if (!left[at] || !right[at]) continue;
            for (std::size_t parent : parents_[at]) hasCommonChild[parent] = true;
        }
        std::vector<std::size_t> bases;
        for (std::size_t at = 0; at < shas_.size(); ++at) {
            if (left[at] && right[at] && !hasCommonChild[at]) bases.push_back(at);
        }
        return bases;
    }

  private:
    std::size_t indexOf(std::string_view sha) {
        auto [found, added] = index_.try_emplace(std::string(sha), shas_.size());
        if (added) {
            shas_.emplace_back(sha);
            parents_.emplace_back();
        }
        return found->second;
    }

    std::vector<std::string> shas_;
    std::map<std::string, std::size_t> index_;
    std::vector<std::vector<std::size_t>> parents_;
    std::map<std::size_t, std::vector<bool>> histories_;
};

inline std::map<std::string, GitBranchAnalysis::Parent> resolveParents(
    const std::optional<std::string>& baseBranch, const GitBranchAnalysis::BranchRefs& refs,
    const std::map<std::string, std::set<std::string>>& descendants) {
    const auto& all = refs.all();
    const std::size_t count = all.size();
    std::map<std::string, std::size_t> index;
    for (std::size_t position = 0; position < count; ++position) index[all[position].name] = position;
    // holds[i * count + j]: the history of branch j holds the tip of branch i.
    std::vector<bool> holds(count * count, false);
    for (std::size_t position = 0; position < count; ++position) {
        auto found = descendants.find(all[position].name);
        if (found == descendants.end()) continue;
        for (const auto& name : found->second) {
            if (auto member = index.find(name); member != index.end())
                holds[position * count + member->second] = true;
        }
    }

    std::map<std::string, GitBranchAnalysis::Parent> parents;
    for (std::size_t branch = 0; branch < count; ++branch) {
        const auto& name = all[branch].name;
        if (!baseBranch || name == *baseBranch) {
            parents[name] = {std::nullopt, "confirmed"};
            continue;
        }
        std::vector<std::size_t> candidates;
        for (std::size_t other = 0; other < count; ++other) {
            if (other != branch && all[other].name != *baseBranch && holds[other * count + branch]) {
                candidates.push_back(other);
            }
        }
        if (candidates.empty()) {
            parents[name] = {baseBranch, "confirmed"};
            continue;
        }
        std::optional<std::size_t> best;
        std::size_t bestAncestors = 0;
        std::string_view bestDate;
        for (std::size_t candidate : candidates) {
            std::size_t ancestors = 0;
            for (std::size_t other : candidates) {
                if (other != candidate && holds[other * count + candidate]) ++ancestors;
            }
            std::string_view date =
                all[candidate].date ? std::string_view(*all[candidate].date) : std::string_view();
            if (!best || ancestors > bestAncestors || (ancestors == bestAncestors && date > bestDate)) {
                best = candidate;
                bestAncestors = ancestors;
                bestDate = date;
            }
        }
        parents[name] = {all[*best].name, "estimated"};
    }
    return parents;
}

// Now minus 30 days in the local calendar (a day across a clock change is not 24 hours).
inline std::optional<Date> staleThreshold(Date now) {
    time_t seconds = static_cast<time_t>(now.seconds());
    tm local{};
    if (!localtime_r(&seconds, &local)) return std::nullopt;
    local.tm_mday -= 30;
    local.tm_isdst = -1;
    time_t shifted = mktime(&local);
    if (shifted == static_cast<time_t>(-1)) return std::nullopt;
    return Date::fromSeconds(shifted);
}

inline std::map<std::string, std::vector<GitBranchMapOverlapPayload>> computeOverlaps(
    const std::vector<GitBranchMapRanking::OpenBranch>& branches) {
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
            common.resize(std::min<std::size_t>(common.size(), 5));
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

inline void applyPriority(std::vector<GitBranchMapNodePayload>& nodes,
                          const std::optional<std::string>& baseBranch,
                          const std::map<std::string, std::set<std::string>>& descendants, Date now) {
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
            std::optional<Date> date =
                node.lastCommitDate ? GitBranchMapRanking::parseDate(*node.lastCommitDate) : std::nullopt;
            node.priority = threshold && date && *date >= *threshold ? 5 : 6;
        }
    }
}

// One branch-map computation: the folder, the environment and what the earlier steps found.
class PerRefComputation {
  public:
    PerRefComputation(GitProcessRunning& runner, const Environment::Map& environment,
                      const ProjectMetadata& metadata, const SystemLogger& logger)
        : runner_(runner), logger_(logger), folder_(metadata.rootFolder()), environment_(environment) {
        environment_["GIT_TERMINAL_PROMPT"] = "0";
        environment_["GIT_OPTIONAL_LOCKS"] = "0";
        environment_["LC_ALL"] = "C";
        payload_.projectId = metadata.id.string();
    }

    // Every node, ranked.
    GitBranchMapPayload run() {
        if (git({"rev-parse", "--is-inside-work-tree"}).status != 0) return finish("notARepository");
        auto head = git({"rev-parse", "HEAD"});
        if (head.status != 0) return finish("noCommits");
        payload_.headSha = std::string(Text::trim(head.stdout));
        auto branch = git(GitCurrentBranch::headArguments);
        std::string current = branch.status == 0 ? GitCurrentBranch::shortName(branch.stdout) : "HEAD";
        std::string state = current == "HEAD" ? "detached" : "ready";
        if (current != "HEAD") payload_.currentBranch = current;
        payload_.isShallow = Text::trim(git({"rev-parse", "--is-shallow-repository"}).stdout) == "true";
        auto remote = git({"remote"});
        if (remote.status == 0) remotes_ = Analysis::parseRemotes(remote.stdout);
        payload_.hasRemote = !remotes_.empty();

        loadRefs();
        if (refs_.empty()) return finish(state);
        determineBaseBranch();
        if (payload_.baseBranch) {
            if (const auto* baseRef = refs_.find(*payload_.baseBranch))
                baseRev_ = Analysis::revision(*baseRef);
        }

        loadGraph();
        loadDescendants();
        if (baseRev_) {
            auto scan =
                git({"rev-list", "--first-parent",
                     "--max-count=" + std::to_string(Analysis::firstParentScanLimit), *baseRev_, "--"});
            if (scan.status == 0) firstParent_ = Analysis::parseFirstParentScan(scan.stdout);
        }
        auto worktrees = git({"worktree", "list", "--porcelain"});
        if (worktrees.status == 0) worktrees_ = Analysis::parseWorktrees(worktrees.stdout);
        auto status = git({"status", "--porcelain=v2", "--untracked-files=all"});
        if (status.status == 0) flags_ = Analysis::parseWorkingTreeFlags(status.stdout);

        std::map<std::string, Analysis::Computed> computed;
        for (const auto& ref : refs_.all()) computed[ref.name] = computeMergeState(ref);
        loadChangedFiles(computed);

        std::vector<GitBranchMapRanking::OpenBranch> open;
        for (const auto& ref : refs_.all()) {
            const auto& entry = computed[ref.name];
            if ((entry.mergeState == "unmerged" || entry.mergeState == "mergedWithFollowUp") &&
                entry.changedFiles && !entry.changedFiles->empty()) {
                open.push_back({ref.name, *entry.changedFiles});
            }
        }
        auto overlaps = computeOverlaps(open);

        auto parents = resolveParents(payload_.baseBranch, refs_, descendants_);
        std::vector<GitBranchMapNodePayload> nodes;
        for (const auto& ref : refs_.all()) {
            nodes.push_back(makeNode(ref, computed[ref.name], parents[ref.name], overlaps));
        }
        applyPriority(nodes, payload_.baseBranch, descendants_, Date::now());
        GitBranchMapRanking::sortNodes(nodes);
        payload_.totalCount = static_cast<std::int64_t>(nodes.size());
        payload_.nodes = std::move(nodes);
        return finish(state);
    }

  private:
    GitProcessExecutionResult git(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "git");
        return runner_.run(arguments, folder_, environment_);
    }

    GitBranchMapPayload finish(const std::string& state) {
        payload_.repositoryState = state;
        payload_.generatedAt = Date::now().isoSeconds();
        return std::move(payload_);
    }

    void loadRefs() {
        auto result = git({"for-each-ref", refListingFormatWithSubjects(), "refs/heads", "refs/remotes"});
        if (result.status != 0) {
            logger_.error(fmt::format("Failed to enumerate refs: {}", result.stderr));
            return;
        }
        refs_ = parseRefListingWithSubjects(result.stdout, remotes_);
        for (auto line : Text::nonEmptyLines(result.stdout)) {
            auto fields = Text::split(line, GitBranchAnalysis::separator);
            if (fields.size() >= 6) refShas_.emplace(fields[0], fields[2]);
        }
    }

    void loadGraph() {
        auto result = git({"rev-list", "--parents", "--branches", "--remotes", "--"});
        if (result.status != 0) {
            logger_.error(fmt::format("Failed to list commits: {}", result.stderr));
            return;
        }
        graph_ = CommitGraph::parse(result.stdout);
    }

    // The commit a full ref name points at.
    std::optional<std::size_t> commitOf(const std::string& fullRef) const {
        auto found = refShas_.find(fullRef);
        if (found == refShas_.end()) return std::nullopt;
        return graph_.find(found->second);
    }

    void determineBaseBranch() {
        auto result = git({"symbolic-ref", "refs/remotes/origin/HEAD"});
        if (result.status == 0) {
            auto branch = Analysis::branchName(Text::trim(result.stdout), remotes_);
            if (branch && refs_.contains(branch->first)) {
                payload_.baseBranch = branch->first;
                return;
            }
        }
        for (const char* name : {"main", "master"}) {
            if (refs_.contains(name)) {
                payload_.baseBranch = name;
                return;
            }
        }
    }

    // For each branch, the branches with a copy whose history holds its tip.
    void loadDescendants() {
        for (const auto& ref : refs_.all()) {
            const auto& tip = ref.localSha ? ref.localSha : ref.remoteSha;
            if (!tip) continue;
            auto& names = descendants_[ref.name];
            auto tipCommit = graph_.find(*tip);
            if (!tipCommit) continue;
            for (const auto& [fullRef, sha] : refShas_) {
                auto branch = Analysis::branchName(fullRef, remotes_);
                auto commit = graph_.find(sha);
                if (branch && commit && graph_.history(*commit)[*tipCommit]) names.insert(branch->first);
            }
        }
    }

    bool inDescendants(const std::string& name, const std::string& member) const {
        auto found = descendants_.find(name);
        return found != descendants_.end() && found->second.contains(member);
    }

    Analysis::Computed computeMergeState(const Analysis::BranchRef& ref) {
        Analysis::Computed result;
        auto undetermined = [&](const char* reason) {
            result.mergeState = "undetermined";
            result.undeterminedReason = reason;
            return result;
        };
        if (!payload_.baseBranch) return undetermined(payload_.isShallow ? "shallow" : "baseUnknown");
        if (ref.name == *payload_.baseBranch) {
            result.mergeState = "base";
            return result;
        }
        if (payload_.isShallow) return undetermined("shallow");
        if (!baseRev_) return undetermined("baseUnknown");
        auto branchRev = Analysis::revision(ref);
        if (!branchRev) return undetermined("baseUnknown");
        auto baseCommit = commitOf(*baseRev_);
        auto branchCommit = commitOf(*branchRev);
        if (!baseCommit || !branchCommit) return undetermined("commandFailed");
        result.ahead = graph_.countLacking(*branchCommit, *baseCommit);
        result.behind = graph_.countLacking(*baseCommit, *branchCommit);

        if (inDescendants(ref.name, *payload_.baseBranch)) {
            result.mergeState = "merged";
            const auto& tip = ref.localSha ? ref.localSha : ref.remoteSha;
            if (tip) {
                if (firstParent_.shas.contains(*tip)) {
                    result.integration = "fastForward";
                } else {
                    result.integration =
                        !firstParent_.shas.empty() && !firstParent_.truncated ? "mergeCommit" : "unknown";
                }
            }
            return result;
        }
        auto mergeBase = this->mergeBase(*baseCommit, *branchCommit, *branchRev);
        if (*result.ahead <= 0) {
            result.mergeState = "unmerged";
        } else if (!mergeBase) {
            return undetermined("commandFailed");
        } else if (firstParent_.shas.contains(*mergeBase)) {
            result.mergeState = "unmerged";
        } else if (firstParent_.shas.empty() || firstParent_.truncated) {
            return undetermined("historyTooLong");
        } else {
            result.mergeState = "mergedWithFollowUp";
        }
        // `git diff base...branch` compares the branch with its merge base, and fails without one.
        if (mergeBase) diffBases_[graph_.sha(*branchCommit)] = *mergeBase;
        return result;
    }

    // The merge base `git merge-base` gives; git is asked which one it takes of several.
    std::optional<std::string> mergeBase(std::size_t baseCommit, std::size_t branchCommit,
                                         const std::string& branchRev) {
        auto bases = graph_.mergeBases(baseCommit, branchCommit);
        if (bases.size() == 1) return graph_.sha(bases.front());
        if (bases.empty()) return std::nullopt;
        auto result = git({"merge-base", *baseRev_, branchRev});
        auto base = Text::trim(result.stdout);
        if (result.status != 0 || base.empty()) return std::nullopt;
        return std::string(base);
    }

    // Each branch's changes since its merge base, from one `git diff-tree` reading commit pairs.
    void loadChangedFiles(std::map<std::string, Analysis::Computed>& computed) {
        if (diffBases_.empty()) return;
        std::string input;
        for (const auto& [branch, base] : diffBases_) input += branch + " " + base + "\n";
        // Renames found as `git diff` finds them by default.
        auto result = runner_.runWithInput(
            {"git", "diff-tree", "--stdin", "-r", "-M", "--name-only", "--always", "--format=%x1e%H"},
            folder_, environment_, input, {});
        if (result.status != 0) return;
        std::map<std::string, std::vector<std::string>> changes;
        for (auto record : Text::split(result.stdout, "\x1e")) {
            std::size_t end = std::min(record.find('\n'), record.size());
            if (end > 0)
                changes[std::string(record.substr(0, end))] = Analysis::parseChangedFiles(record.substr(end));
        }
        for (const auto& ref : refs_.all()) {
            auto revision = Analysis::revision(ref);
            auto commit = revision ? commitOf(*revision) : std::nullopt;
            if (!commit) continue;
            if (auto found = changes.find(graph_.sha(*commit)); found != changes.end())
                computed[ref.name].changedFiles = found->second;
        }
    }

    std::pair<std::string, std::optional<std::int64_t>> resolvePushState(const Analysis::BranchRef& ref) {
        if (!ref.localSha) return {"pushed", 0};
        std::optional<std::string> target = ref.upstream;
        if (!target && ref.remoteSha && !remotes_.empty()) target = ref.remoteRef;
        if (!target) return {"noUpstream", std::nullopt};
        if (ref.remoteSha == ref.localSha) return {"pushed", 0};
        auto targetCommit = commitOf(*target);
        auto localCommit = graph_.find(*ref.localSha);
        if (!targetCommit || !localCommit) return {"noUpstream", std::nullopt};
        if (auto count = graph_.countLacking(*localCommit, *targetCommit); count > 0)
            return {"unpushed", count};
        return {"pushed", 0};
    }

    bool isOtherWorktree(const std::string& path) const {
        std::error_code error;
        auto canonical = [&](const std::filesystem::path& value) {
            auto resolved = std::filesystem::weakly_canonical(value, error);
            return (error ? value : resolved).lexically_normal();
        };
        return canonical(path) != canonical(folder_);
    }

    GitBranchMapNodePayload makeNode(
        const Analysis::BranchRef& ref, const Analysis::Computed& computed, const Analysis::Parent& parent,
        const std::map<std::string, std::vector<GitBranchMapOverlapPayload>>& overlaps) {
        GitBranchMapNodePayload node;
        node.name = ref.name;
        if (ref.subject && !ref.subject->empty()) node.recentSubject = ref.subject;
        node.isCurrent = payload_.currentBranch == ref.name;
        node.isBase = payload_.baseBranch == ref.name;
        std::tie(node.parent, node.parentConfidence) = parent;
        node.mergeState = computed.mergeState;
        node.undeterminedReason = computed.undeterminedReason;
        node.integration = computed.integration;
        node.aheadOfBase = computed.ahead;
        node.behindBase = computed.behind;
        if (computed.changedFiles)
            node.changedFileCount = static_cast<std::int64_t>(computed.changedFiles->size());
        node.location = !ref.localSha ? "remoteOnly" : ref.remoteSha ? "localAndRemote" : "local";
        std::tie(node.pushState, node.unpushedCount) = resolvePushState(ref);
        if (auto worktree = worktrees_.find(ref.name); worktree != worktrees_.end()) {
            node.worktreePath = worktree->second;
            node.inUseByOtherWorktree = isOtherWorktree(worktree->second);
        }
        node.hasUncommittedChanges = node.isCurrent && flags_.hasUncommitted;
        node.hasConflicts = node.isCurrent && flags_.hasConflicts;
        node.lastCommitDate = ref.date;
        node.isCleanupCandidate = node.mergeState == "merged" && ref.localSha && !node.isBase;
        if (auto found = overlaps.find(ref.name); found != overlaps.end()) node.overlaps = found->second;
        return node;
    }

    GitProcessRunning& runner_;
    const SystemLogger& logger_;
    std::filesystem::path folder_;
    std::map<std::string, std::string> environment_;
    GitBranchMapPayload payload_;
    std::vector<std::string> remotes_;
    Analysis::BranchRefs refs_;
    // Full name -> commit, for every listed ref.
    std::map<std::string, std::string> refShas_;
    CommitGraph graph_;
    // Branch commit -> the merge base its changed files are read from.
    std::map<std::string, std::string> diffBases_;
    std::optional<std::string> baseRev_;
    std::map<std::string, std::set<std::string>> descendants_;
    Analysis::FirstParentScan firstParent_;
    std::map<std::string, std::string> worktrees_;
    Analysis::WorkingTreeFlags flags_;
};

// The payload `limit` leaves of a computed map (0 for no limit): the same for any limit as computing again.
inline GitBranchMapPayload bounded(GitBranchMapPayload payload, std::int64_t limit) {
    payload.nodes = GitBranchMapRanking::boundedNodes(payload.nodes, limit);
    payload.truncatedCount =
        std::max<std::int64_t>(0, payload.totalCount - static_cast<std::int64_t>(payload.nodes.size()));
    return payload;
}

inline GitBranchMapPayload loadBranchMap(GitProcessRunning& runner, const Environment::Map& environment,
                                         const ProjectMetadata& metadata, std::int64_t limit) {
    static const SystemLogger logger{"app.pelko.git", "git-branch-map-oracle"};
    return bounded(PerRefComputation(runner, environment, metadata, logger).run(), limit);
}

}  // namespace pelko::test::perref
