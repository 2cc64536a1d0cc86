#include "git/GitBranchMapProvider.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "git/GitBranchAnalysis.hpp"
#include "git/GitBranchAnalysisContainment.hpp"
#include "git/GitBranchAnalysisUnmerged.hpp"
#include "git/GitBranchMapRanking.hpp"
#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "platform/CutText.hpp"
#include "platform/Date.hpp"

namespace pelko {
namespace {

using Analysis = GitBranchAnalysis;
using Ranking = GitBranchMapRanking;
using Text = GitOutputText;

// Standard output of a query whose answer is a line or two.
constexpr std::size_t smallOutput = std::size_t{64} * 1024;
// Command-line bytes of commit ids or ref names in one batch, well inside the kernel's limits.
constexpr std::size_t batchArgumentBytes = std::size_t{96} * 1024;
// Standard output of one subject reading: a subject longer than what is shown ends the reading there.
constexpr std::size_t subjectOutput = std::size_t{1024} * 1024;
// Standard output of one branch's changed files.
constexpr std::size_t diffOutput = std::size_t{4} * 1024 * 1024;
constexpr std::string_view recordMark = "\x1e";

// What one branch's merge analysis learned before its state is decided.
struct Counts {
    std::optional<std::int64_t> ahead;
    std::optional<std::int64_t> behind;
    // The reason the counts are missing: "commandFailed" or "historyTooLong".
    const char* missing = "commandFailed";
    // The commits `rev-list --count <base> --not …` takes for the behind count.
    std::optional<std::string> behindKey;
    std::optional<std::string> mergeBase;
    // No merge base exists (nothing in common with the base).
    bool noMergeBase = false;
    // The branch's only commit the base lacks sits right on its merge base: its own change is the diff.
    bool singleCommit = false;
};

// One branch-map computation: the folder, the environment and what the earlier steps found.
class Computation {
  public:
    Computation(GitProcessRunning& runner, const Environment::Map& environment,
                const ProjectMetadata& metadata, const SystemLogger& logger,
                const GitBranchMapProvider::Limits& limits)
        : runner_(runner),
          logger_(logger),
          limits_(limits),
          folder_(metadata.rootFolder()),
          environment_(environment),
          runsLeft_(limits.branchRuns) {
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
        auto remote = git({"remote"}, limits_.outputBytes);
        if (remote.status == 0 && !remote.stdoutOverLimit) remotes_ = Analysis::parseRemotes(remote.stdout);
        payload_.hasRemote = !remotes_.empty();

        loadRefs();
        if (refs_.empty()) return finish(state);
        copiesOf_.resize(refs_.all().size());
        for (std::size_t copy = 0; copy < refs_.copies().size(); ++copy)
            copiesOf_[refs_.copies()[copy].branch].push_back(copy);
        determineBaseBranch();
        if (payload_.baseBranch) {
            baseIndex_ = refs_.indexOf(*payload_.baseBranch);
            baseRev_ = Analysis::revision(refs_.all()[*baseIndex_]);
            heldByBase_ = tipsHeldBy(*baseIndex_);
        }
        std::optional<std::size_t> currentIndex;
        if (payload_.currentBranch) currentIndex = refs_.indexOf(*payload_.currentBranch);
        if (currentIndex) heldByCurrent_ = tipsHeldBy(*currentIndex);

        if (baseRev_) {
            auto scan =
                git({"rev-list", "--first-parent",
                     "--max-count=" + std::to_string(Analysis::firstParentScanLimit), *baseRev_, "--"},
                    limits_.outputBytes);
            if (scan.status == 0 && !scan.stdoutOverLimit)
                firstParent_ = Analysis::parseFirstParentScan(scan.stdout);
        }
        auto worktrees = git({"worktree", "list", "--porcelain"}, limits_.outputBytes);
        if (worktrees.status == 0 && !worktrees.stdoutOverLimit)
            worktrees_ = Analysis::parseWorktrees(worktrees.stdout);
        loadWorkingTreeFlags();

        // Push states first: a budget spent on changed files must not leave them unknown.
        for (const auto& ref : refs_.all()) pushStates_.push_back(resolvePushState(ref));
        analyse();
        for (std::size_t index = 0; index < refs_.all().size(); ++index) {
            const auto& entry = computed_[index];
            if ((entry.mergeState == "unmerged" || entry.mergeState == "mergedWithFollowUp") &&
                entry.changedFiles && !entry.changedFiles->empty()) {
                open_.push_back({refs_.all()[index].name, *entry.changedFiles});
            }
        }
        overlaps_.emplace(open_);
        auto overlapping = overlaps_->overlapping();

        std::vector<GitBranchMapNodePayload> nodes;
        for (std::size_t index = 0; index < refs_.all().size(); ++index)
            nodes.push_back(makeNode(refs_.all()[index], computed_[index], pushStates_[index]));
        Ranking::applyPriority(nodes, relevantNames(nodes), overlapping, Date::now());
        Ranking::sortNodes(nodes);
        payload_.totalCount = static_cast<std::int64_t>(nodes.size());
        payload_.nodes = Ranking::boundedNodes(nodes, limit);
        nodes.clear();
        completeShownNodes();
        payload_.truncatedCount =
            std::max<std::int64_t>(0, payload_.totalCount - static_cast<std::int64_t>(payload_.nodes.size()));
        if (runsLeft_ == 0 || workExhausted_)
            logger_.notice("Branch map bounded: some answers are left undetermined");
        return finish(state);
    }

  private:
    GitProcessExecutionResult git(std::vector<std::string> arguments, std::size_t maxStdout = smallOutput) {
        arguments.insert(arguments.begin(), "git");
        GitProcessLimits limits;
        limits.overall = limits_.runTime;
        limits.maxStdout = maxStdout;
        return runner_.runWithin(arguments, folder_, environment_, limits);
    }

    // A run for single branches, within the map's budget of them.
    std::optional<GitProcessExecutionResult> branchRun(std::vector<std::string> arguments,
                                                       std::size_t maxStdout = smallOutput) {
        if (runsLeft_ == 0) return std::nullopt;
        --runsLeft_;
        return git(std::move(arguments), maxStdout);
    }

    GitBranchMapPayload finish(const std::string& state) {
        payload_.repositoryState = state;
        payload_.generatedAt = Date::now().isoSeconds();
        return std::move(payload_);
    }

    void loadRefs() {
        auto result = git({"for-each-ref", Analysis::refListingFormat(), "refs/heads", "refs/remotes"},
                          limits_.outputBytes);
        if (result.status != 0 || result.stdoutOverLimit) {
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

    // The tips that lie in the history of some copy (local or remote-tracking) of the branch.
    std::unordered_set<std::string> tipsHeldBy(std::size_t branch) {
        std::vector<std::string> arguments{"for-each-ref", "--format=%(objectname)"};
        for (std::size_t copy : copiesOf_[branch])
            arguments.push_back("--merged=" + refs_.copies()[copy].fullRef);
        arguments.insert(arguments.end(), {"refs/heads", "refs/remotes"});
        auto result = git(arguments, limits_.outputBytes);
        std::unordered_set<std::string> tips;
        if (result.status != 0 || result.stdoutOverLimit) return tips;
        for (auto line : Text::nonEmptyLines(result.stdout)) tips.emplace(Text::trim(line));
        return tips;
    }

    void loadWorkingTreeFlags() {
        auto status = git({"status", "--porcelain=v2", "--untracked-files=all"}, limits_.outputBytes);
        if (status.status != 0 && !status.stdoutOverLimit) return;
        std::string_view output = status.stdout;
        if (status.stdoutOverLimit) output = output.substr(0, output.rfind('\n') + 1);
        flags_ = Analysis::parseWorkingTreeFlags(output);
        if (status.stdoutOverLimit && !flags_.hasConflicts) {
            // The listing went on past what was read: ask for unmerged entries alone.
            auto unmerged = git({"ls-files", "--unmerged"}, 1);
            flags_.hasConflicts =
                unmerged.stdoutOverLimit || (unmerged.status == 0 && !unmerged.stdout.empty());
            flags_.hasUncommitted = flags_.hasUncommitted || flags_.hasConflicts;
        }
    }

    std::size_t workLeft() const { return limits_.work - std::min(work_, limits_.work); }

    // Merge state, counts and changed files of every ref.
    void analyse() {
        const auto& all = refs_.all();
        computed_.assign(all.size(), {});
        std::vector<std::size_t> analysed;
        for (std::size_t index = 0; index < all.size(); ++index) {
            auto& result = computed_[index];
            auto undetermined = [&](const char* reason) {
                result.mergeState = "undetermined";
                result.undeterminedReason = reason;
            };
            if (!payload_.baseBranch) {
                undetermined(payload_.isShallow ? "shallow" : "baseUnknown");
            } else if (index == *baseIndex_) {
                result.mergeState = "base";
            } else if (payload_.isShallow) {
                undetermined("shallow");
            } else if (!baseRev_ || !Analysis::revision(all[index])) {
                undetermined("baseUnknown");
            } else {
                analysed.push_back(index);
            }
        }
        if (analysed.empty()) return;

        std::vector<Counts> counts(all.size());
        loadCounts(analysed, counts);
        std::vector<std::size_t> diffs;
        for (std::size_t index : analysed) {
            if (decideMergeState(index, counts[index])) diffs.push_back(index);
        }
        loadChangedFiles(diffs, counts);
    }

    void loadCounts(const std::vector<std::size_t>& analysed, std::vector<Counts>& counts) {
        const auto& all = refs_.all();
        auto walk = git({"rev-list", "--parents", "--branches", "--remotes", "--not", *baseRev_, "--"},
                        limits_.outputBytes);
        std::optional<GitBranchAnalysisUnmerged> unmerged;
        if (walk.status == 0 && !walk.stdoutOverLimit) {
            unmerged = GitBranchAnalysisUnmerged::parse(walk.stdout);
        } else {
            logger_.notice("The walk of unmerged commits did not finish; branches are counted one by one");
        }
        walk.stdout.clear();

        std::unordered_map<std::string, std::optional<GitBranchAnalysisUnmerged::Reach>> reaches;
        std::map<std::string, std::optional<std::int64_t>> behindByKey;
        for (std::size_t index : analysed) {
            auto& entry = counts[index];
            const std::string& tip = *Analysis::tip(all[index]);
            if (unmerged && !unmerged->lacks(tip)) {
                entry.ahead = 0;
                entry.behindKey = tip;
                behindByKey.emplace(*entry.behindKey, std::nullopt);
                continue;
            }
            const GitBranchAnalysisUnmerged::Reach* reach = nullptr;
            if (unmerged && !workExhausted_) {
                auto [found, added] = reaches.try_emplace(tip);
                if (added) {
                    std::size_t spent = 0;
                    found->second = unmerged->reach(tip, spent, workLeft());
                    work_ += spent;
                    if (!found->second) workExhausted_ = true;
                }
                if (found->second) reach = &*found->second;
            }
            // A boundary too long for one command line is counted the plain way.
            if (reach && reach->boundary.size() * 41 > batchArgumentBytes) reach = nullptr;
            if (reach) {
                entry.ahead = reach->ahead;
                std::string key;
                for (const auto& sha : reach->boundary) key += (key.empty() ? "" : " ") + sha;
                entry.behindKey = key;
                behindByKey.emplace(key, std::nullopt);
                entry.noMergeBase = reach->boundary.empty();
                entry.mergeBase = newestOnBaseLine(reach->boundary);
                entry.singleCommit = reach->singleCommit;
                continue;
            }
            // Counted on its own, as the walks could not.
            auto result = branchRun(
                {"rev-list", "--left-right", "--count", *baseRev_ + "..." + revisionOf(index), "--"});
            if (!result) {
                entry.missing = "historyTooLong";
                continue;
            }
            auto aheadBehind =
                result->status == 0 ? Analysis::parseAheadBehind(result->stdout) : std::nullopt;
            if (!aheadBehind) continue;
            entry.ahead = aheadBehind->first;
            entry.behind = aheadBehind->second;
        }
        for (auto& [key, behind] : behindByKey) {
            std::vector<std::string> arguments{"rev-list", "--count", *baseRev_, "--not"};
            for (auto sha : Text::split(key, " ")) {
                if (!sha.empty()) arguments.emplace_back(sha);
            }
            arguments.push_back("--");
            auto result = branchRun(arguments);
            if (result && result->status == 0) behind = Analysis::parseCount(result->stdout);
            if (!result) behind = -1;
        }
        for (std::size_t index : analysed) {
            auto& entry = counts[index];
            if (!entry.behindKey) continue;
            auto behind = behindByKey[*entry.behindKey];
            if (behind && *behind >= 0) {
                entry.behind = behind;
            } else {
                entry.missing = behind ? "historyTooLong" : "commandFailed";
                entry.ahead.reset();
            }
        }
    }

    // The one merge base among the base commits a branch grew from, when they all lie on the base's
    // first-parent line: the newest of them holds the others.
    std::optional<std::string> newestOnBaseLine(const std::vector<std::string>& boundary) const {
        if (boundary.size() == 1) return boundary.front();
        std::optional<std::string> newest;
        std::size_t newestPosition = 0;
        for (const auto& sha : boundary) {
            auto found = firstParent_.shas.find(sha);
            if (found == firstParent_.shas.end()) return std::nullopt;
            if (!newest || found->second < newestPosition) {
                newest = sha;
                newestPosition = found->second;
            }
        }
        return newest;
    }

    std::string revisionOf(std::size_t index) const { return *Analysis::revision(refs_.all()[index]); }

    // Decides the merge state; true when the branch's changed files are wanted.
    bool decideMergeState(std::size_t index, Counts& counts) {
        auto& result = computed_[index];
        const auto& ref = refs_.all()[index];
        auto undetermined = [&](const char* reason) {
            result.mergeState = "undetermined";
            result.undeterminedReason = reason;
            return false;
        };
        if (!counts.ahead || !counts.behind) return undetermined(counts.missing);
        result.ahead = counts.ahead;
        result.behind = counts.behind;
        const auto& tip = Analysis::tip(ref);
        if (tip && heldByBase_.contains(*tip)) {
            result.mergeState = "merged";
            if (firstParent_.shas.contains(*tip)) {
                result.integration = "fastForward";
            } else {
                result.integration =
                    !firstParent_.shas.empty() && !firstParent_.truncated ? "mergeCommit" : "unknown";
            }
            return false;
        }
        if (*result.ahead <= 0) {
            result.mergeState = "unmerged";
            counts.singleCommit = false;
            return true;
        }
        std::optional<std::string> mergeBase = counts.mergeBase;
        if (!mergeBase && !counts.noMergeBase) {
            auto run = branchRun({"merge-base", *baseRev_, revisionOf(index)});
            if (!run) return undetermined("historyTooLong");
            auto base = Text::trim(run->stdout);
            if (run->status == 0 && !base.empty()) mergeBase = std::string(base);
        }
        if (!mergeBase) return undetermined("commandFailed");
        if (firstParent_.shas.contains(*mergeBase)) {
            result.mergeState = "unmerged";
        } else if (firstParent_.shas.empty() || firstParent_.truncated) {
            return undetermined("historyTooLong");
        } else {
            result.mergeState = "mergedWithFollowUp";
        }
        return true;
    }

    void loadChangedFiles(const std::vector<std::size_t>& wanted, const std::vector<Counts>& counts) {
        const auto& all = refs_.all();
        // A single commit on its merge base: `git log` gives its change for many branches in one run.
        std::map<std::string, std::optional<std::vector<std::string>>> byCommit;
        for (std::size_t index : wanted) {
            if (counts[index].singleCommit) byCommit.emplace(*Analysis::tip(all[index]), std::nullopt);
        }
        std::vector<std::string> batch;
        std::size_t batchBytes = 0;
        auto flush = [&] {
            if (batch.empty()) return;
            std::vector<std::string> arguments{"log",        "--no-walk=unsorted",  "--name-only",
                                               "--no-color", "--no-show-signature", "--format=%x1e%H"};
            arguments.insert(arguments.end(), batch.begin(), batch.end());
            arguments.push_back("--");
            batch.clear();
            batchBytes = 0;
            auto result = git(arguments, limits_.outputBytes);
            if (result.status != 0 || result.stdoutOverLimit) return;
            for (auto record : Text::split(result.stdout, recordMark)) {
                std::size_t end = record.find('\n');
                if (end == std::string_view::npos) end = record.size();
                auto found = byCommit.find(std::string(Text::trim(record.substr(0, end))));
                if (found != byCommit.end()) found->second = Analysis::parseChangedFiles(record.substr(end));
            }
        };
        for (const auto& [sha, files] : byCommit) {
            batch.push_back(sha);
            batchBytes += sha.size() + 1;
            if (batchBytes >= batchArgumentBytes) flush();
        }
        flush();

        for (std::size_t index : wanted) {
            auto& result = computed_[index];
            if (counts[index].singleCommit) {
                if (const auto& files = byCommit[*Analysis::tip(all[index])]) {
                    result.changedFiles = files;
                    continue;
                }
            }
            auto diff =
                branchRun({"diff", "--name-only", *baseRev_ + "..." + revisionOf(index), "--"}, diffOutput);
            if (diff && diff->status == 0 && !diff->stdoutOverLimit)
                result.changedFiles = Analysis::parseChangedFiles(diff->stdout);
        }
    }

    std::pair<std::string, std::optional<std::int64_t>> resolvePushState(const Analysis::BranchRef& ref) {
        if (!ref.localSha) return {"pushed", 0};
        std::optional<std::string> target = ref.upstream;
        if (!target && ref.remoteSha && !remotes_.empty()) target = ref.remoteRef;
        if (!target) return {"noUpstream", std::nullopt};
        if (ref.remoteSha == ref.localSha) return {"pushed", 0};
        std::string range = *target + ".." + *ref.localSha;
        auto [found, added] = pushCounts_.try_emplace(range);
        if (added) {
            auto result = branchRun({"rev-list", "--count", range, "--"});
            if (result && result->status == 0) found->second = Analysis::parseCount(result->stdout);
        }
        const auto& count = found->second;
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

    using PushState = std::pair<std::string, std::optional<std::int64_t>>;

    GitBranchMapNodePayload makeNode(const Analysis::BranchRef& ref, const Analysis::Computed& computed,
                                     const PushState& push) {
        GitBranchMapNodePayload node;
        node.name = ref.name;
        node.isCurrent = payload_.currentBranch == ref.name;
        node.isBase = payload_.baseBranch == ref.name;
        node.mergeState = computed.mergeState;
        node.undeterminedReason = computed.undeterminedReason;
        node.integration = computed.integration;
        node.aheadOfBase = computed.ahead;
        node.behindBase = computed.behind;
        if (computed.changedFiles)
            node.changedFileCount = static_cast<std::int64_t>(computed.changedFiles->size());
        node.location = !ref.localSha ? "remoteOnly" : ref.remoteSha ? "localAndRemote" : "local";
        std::tie(node.pushState, node.unpushedCount) = push;
        if (auto worktree = worktrees_.find(ref.name); worktree != worktrees_.end()) {
            node.worktreePath =
                std::string(CutText::head(worktree->second, GitBranchMapProvider::maxWorktreePathBytes));
            node.inUseByOtherWorktree = isOtherWorktree(worktree->second);
        }
        node.hasUncommittedChanges = node.isCurrent && flags_.hasUncommitted;
        node.hasConflicts = node.isCurrent && flags_.hasConflicts;
        node.lastCommitDate = ref.date;
        node.isCleanupCandidate = node.mergeState == "merged" && ref.localSha && !node.isBase;
        return node;
    }

    // The current branch, every branch whose tip its history holds, and the base.
    std::set<std::string> relevantNames(const std::vector<GitBranchMapNodePayload>& nodes) const {
        std::set<std::string> relevant;
        auto current =
            std::find_if(nodes.begin(), nodes.end(), [](const auto& node) { return node.isCurrent; });
        if (current != nodes.end()) {
            relevant.insert(current->name);
            for (const auto& ref : refs_.all()) {
                if (heldByCurrent_.contains(*Analysis::tip(ref))) relevant.insert(ref.name);
            }
        }
        if (payload_.baseBranch) relevant.insert(*payload_.baseBranch);
        return relevant;
    }

    // Subjects, parents and overlap lists, which only the nodes shown need, as long as the event has
    // room for them.
    void completeShownNodes() {
        std::vector<std::size_t> shown;
        for (const auto& node : payload_.nodes) shown.push_back(*refs_.indexOf(node.name));
        loadSubjects(shown);
        if (baseIndex_) containment_ = loadContainment();
        // The nodes get what the rest of the event leaves (its counts at their widest).
        GitBranchMapPayload envelope = payload_;
        envelope.nodes.clear();
        envelope.totalCount = envelope.truncatedCount = std::numeric_limits<std::int64_t>::max();
        envelope.generatedAt = Date::now().isoSeconds();
        std::size_t rest = json::encode(envelope.toJson()).size();
        std::size_t room =
            GitBranchMapProvider::maxEventBytes > rest ? GitBranchMapProvider::maxEventBytes - rest : 0;
        payload_.nodes = Ranking::withinBytes(std::move(payload_.nodes), room,
                                              [&](GitBranchMapNodePayload& node) { complete(node); });
    }

    void complete(GitBranchMapNodePayload& node) {
        std::size_t index = *refs_.indexOf(node.name);
        for (std::size_t copy : copiesOf_[index]) {
            auto found = subjects_.find(refs_.copies()[copy].sha);
            if (found != subjects_.end() && !found->second.empty()) {
                node.recentSubject = found->second;
                break;
            }
        }
        node.overlaps = overlaps_->of(node.name);
        if (!baseIndex_ || index == *baseIndex_) {
            node.parentConfidence = "confirmed";
            return;
        }
        std::optional<Analysis::Parent> parent;
        if (containment_ && !workExhausted_) {
            std::size_t spent = 0;
            parent = containment_->parentOf(index, *baseIndex_, refs_, spent, workLeft());
            work_ += spent;
            if (!parent) workExhausted_ = true;
        }
        if (parent) {
            std::tie(node.parent, node.parentConfidence) = *parent;
        } else {
            node.parentConfidence = "undetermined";
        }
    }

    // The subjects of the shown nodes' commits, one ref read per commit. A reading that a long subject
    // cut short goes on with the commits it did not reach.
    void loadSubjects(const std::vector<std::size_t>& shown) {
        std::map<std::string, std::string> wanted;  // commit -> a ref pointing at it
        for (std::size_t index : shown) {
            for (std::size_t copy : copiesOf_[index]) {
                const auto& entry = refs_.copies()[copy];
                wanted.emplace(entry.sha, entry.fullRef);
            }
        }
        while (!wanted.empty()) {
            std::vector<std::string> arguments{"for-each-ref", Analysis::subjectFormat()};
            std::vector<std::string> asked;
            std::size_t bytes = 0;
            for (const auto& [sha, fullRef] : wanted) {
                if (bytes >= batchArgumentBytes) break;
                arguments.push_back(fullRef);
                asked.push_back(sha);
                bytes += fullRef.size() + 1;
            }
            if (subjectReadingsLeft_ == 0) return;
            --subjectReadingsLeft_;
            auto result = git(arguments, subjectOutput);
            if (result.status != 0 && !result.stdoutOverLimit) return;
            std::size_t found = 0;
            for (auto& [sha, subject] : Analysis::parseSubjects(result.stdout, result.stdoutOverLimit)) {
                if (wanted.erase(sha) != 0) {
                    subjects_[sha] = std::move(subject);
                    ++found;
                }
            }
            if (result.stdoutOverLimit && found == 0) return;
            // A reading that ended by itself answered for every ref it was given.
            if (!result.stdoutOverLimit) {
                for (const auto& sha : asked) wanted.erase(sha);
            }
        }
    }

    std::optional<GitBranchAnalysisContainment> loadContainment() {
        auto graph =
            git({"log", "--clear-decorations", "--decorate-refs=refs/heads/", "--decorate-refs=refs/remotes/",
                 "--simplify-by-decoration", "--topo-order", "--no-show-signature", "--no-color",
                 "--format=%H %P", "--branches", "--remotes", "--"},
                limits_.outputBytes);
        if (graph.status != 0 || graph.stdoutOverLimit) {
            logger_.notice("The branch graph could not be read; parents are left undetermined");
            return std::nullopt;
        }
        auto table = GitBranchAnalysisContainment::build(graph.stdout, refs_, limits_.containmentBits);
        if (!table)
            logger_.notice("Too many branches for the containment table; parents are left undetermined");
        return table;
    }

    GitProcessRunning& runner_;
    const SystemLogger& logger_;
    const GitBranchMapProvider::Limits& limits_;
    std::filesystem::path folder_;
    std::map<std::string, std::string> environment_;
    GitBranchMapPayload payload_;
    std::vector<std::string> remotes_;
    Analysis::BranchRefs refs_;
    // Per branch, its copies' positions in `refs_.copies()`, in listing order.
    std::vector<std::vector<std::size_t>> copiesOf_;
    std::optional<std::size_t> baseIndex_;
    std::optional<std::string> baseRev_;
    std::unordered_set<std::string> heldByBase_;
    std::unordered_set<std::string> heldByCurrent_;
    Analysis::FirstParentScan firstParent_;
    std::map<std::string, std::string> worktrees_;
    Analysis::WorkingTreeFlags flags_;
    std::vector<Analysis::Computed> computed_;
    std::vector<Ranking::OpenBranch> open_;
    std::optional<Ranking::Overlaps> overlaps_;
    std::optional<GitBranchAnalysisContainment> containment_;
    std::map<std::string, std::optional<std::int64_t>> pushCounts_;
    std::map<std::string, std::string> subjects_;
    std::vector<std::pair<std::string, std::optional<std::int64_t>>> pushStates_;
    std::size_t runsLeft_;
    // Each reading covers many commits; only subjects longer than a reading holds take more.
    std::size_t subjectReadingsLeft_ = 64;
    std::size_t work_ = 0;
    bool workExhausted_ = false;
};

}  // namespace

GitBranchMapProvider::GitBranchMapProvider(std::shared_ptr<GitProcessRunning> processRunner,
                                           Environment::Map environment)
    : GitBranchMapProvider(std::move(processRunner), std::move(environment), Limits{}) {}

GitBranchMapProvider::GitBranchMapProvider(std::shared_ptr<GitProcessRunning> processRunner,
                                           Environment::Map environment, Limits limits)
    : processRunner_(std::move(processRunner)), environment_(std::move(environment)), limits_(limits) {}

GitBranchMapPayload GitBranchMapProvider::loadBranchMap(const ProjectMetadata& metadata, std::int64_t limit) {
    return Computation(*processRunner_, environment_, metadata, logger_, limits_).run(limit);
}

}  // namespace pelko
