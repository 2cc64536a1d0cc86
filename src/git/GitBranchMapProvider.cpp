#include "git/GitBranchMapProvider.hpp"

#include <fmt/format.h>

#include <filesystem>
#include <map>
#include <set>

#include "git/GitBranchAnalysis.hpp"
#include "git/GitBranchMapRanking.hpp"
#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "platform/Date.hpp"
#include "platform/Environment.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {
namespace {

using Analysis = GitBranchAnalysis;
using Text = GitOutputText;

// One branch-map computation: the folder, the environment and what the earlier steps found.
class Computation {
  public:
    Computation(GitProcessRunning& runner, const Environment::Map& environment,
                const ProjectMetadata& metadata, const SystemLogger& logger)
        : runner_(runner), logger_(logger), folder_(metadata.rootFolder()), environment_(environment) {
        environment_["GIT_TERMINAL_PROMPT"] = "0";
        environment_["GIT_OPTIONAL_LOCKS"] = "0";
        environment_["LC_ALL"] = "C";
        payload_.projectId = metadata.id.string();
    }

    GitBranchMapPayload run(std::int64_t limit) {
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

        std::vector<GitBranchMapRanking::OpenBranch> open;
        for (const auto& ref : refs_.all()) {
            const auto& entry = computed[ref.name];
            if ((entry.mergeState == "unmerged" || entry.mergeState == "mergedWithFollowUp") &&
                entry.changedFiles && !entry.changedFiles->empty()) {
                open.push_back({ref.name, *entry.changedFiles});
            }
        }
        auto overlaps = GitBranchMapRanking::computeOverlaps(open);

        auto parents = Analysis::resolveParents(payload_.baseBranch, refs_, descendants_);
        std::vector<GitBranchMapNodePayload> nodes;
        for (const auto& ref : refs_.all()) {
            nodes.push_back(makeNode(ref, computed[ref.name], parents[ref.name], overlaps));
        }
        GitBranchMapRanking::applyPriority(nodes, payload_.baseBranch, descendants_, Date::now());
        GitBranchMapRanking::sortNodes(nodes);
        payload_.totalCount = static_cast<std::int64_t>(nodes.size());
        payload_.nodes = GitBranchMapRanking::boundedNodes(nodes, limit);
        payload_.truncatedCount =
            std::max<std::int64_t>(0, payload_.totalCount - static_cast<std::int64_t>(payload_.nodes.size()));
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
        auto result = git({"for-each-ref", Analysis::refListingFormat(), "refs/heads", "refs/remotes"});
        if (result.status != 0) {
            logger_.error(fmt::format("Failed to enumerate refs: {}", result.stderr));
            return;
        }
        refs_ = Analysis::parseRefListing(result.stdout, remotes_);
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

    void loadDescendants() {
        for (const auto& ref : refs_.all()) {
            const auto& tip = ref.localSha ? ref.localSha : ref.remoteSha;
            if (!tip) continue;
            auto result = git(
                {"for-each-ref", "--contains", *tip, "--format=%(refname)", "refs/heads", "refs/remotes"});
            descendants_[ref.name] = result.status == 0
                                         ? Analysis::parseContainingBranches(result.stdout, remotes_)
                                         : std::set<std::string>{};
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
        auto counts = git({"rev-list", "--left-right", "--count", *baseRev_ + "..." + *branchRev, "--"});
        auto aheadBehind = counts.status == 0 ? Analysis::parseAheadBehind(counts.stdout) : std::nullopt;
        if (!aheadBehind) return undetermined("commandFailed");
        result.ahead = aheadBehind->first;
        result.behind = aheadBehind->second;

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
        if (*result.ahead <= 0) {
            result.mergeState = "unmerged";
        } else {
            auto mergeBase = git({"merge-base", *baseRev_, *branchRev});
            auto base = Text::trim(mergeBase.stdout);
            if (mergeBase.status != 0 || base.empty()) return undetermined("commandFailed");
            if (firstParent_.shas.contains(std::string(base))) {
                result.mergeState = "unmerged";
            } else if (firstParent_.shas.empty() || firstParent_.truncated) {
                return undetermined("historyTooLong");
            } else {
                result.mergeState = "mergedWithFollowUp";
            }
        }
        auto diff = git({"diff", "--name-only", *baseRev_ + "..." + *branchRev, "--"});
        if (diff.status == 0) result.changedFiles = Analysis::parseChangedFiles(diff.stdout);
        return result;
    }

    std::pair<std::string, std::optional<std::int64_t>> resolvePushState(const Analysis::BranchRef& ref) {
        if (!ref.localSha) return {"pushed", 0};
        std::optional<std::string> target = ref.upstream;
        if (!target && ref.remoteSha && !remotes_.empty()) target = ref.remoteRef;
        if (!target) return {"noUpstream", std::nullopt};
        if (ref.remoteSha == ref.localSha) return {"pushed", 0};
        auto result = git({"rev-list", "--count", *target + ".." + *ref.localSha, "--"});
        auto count = result.status == 0 ? Analysis::parseCount(result.stdout) : std::nullopt;
        if (!count) return {"noUpstream", std::nullopt};
        if (*count > 0) return {"unpushed", *count};
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
    std::optional<std::string> baseRev_;
    std::map<std::string, std::set<std::string>> descendants_;
    Analysis::FirstParentScan firstParent_;
    std::map<std::string, std::string> worktrees_;
    Analysis::WorkingTreeFlags flags_;
};

}  // namespace

GitBranchMapProvider::GitBranchMapProvider(std::shared_ptr<GitProcessRunning> processRunner,
                                           Environment::Map environment)
    : processRunner_(std::move(processRunner)), environment_(std::move(environment)) {}

GitBranchMapPayload GitBranchMapProvider::loadBranchMap(const ProjectMetadata& metadata, std::int64_t limit) {
    return Computation(*processRunner_, environment_, metadata, logger_).run(limit);
}

}  // namespace pelko
