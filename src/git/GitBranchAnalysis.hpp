#pragma once
// GitBranchAnalysis: the records of one branch-map computation and the pure steps over git's output
// (ref listing, containment, first-parent scan, worktrees, working-tree flags, counts) and over the
// gathered tables (comparison revisions, parent estimate). Safe from any thread.
//
// Branches are identified by full ref names throughout: a local branch named "origin/x" or a tag named
// like a branch can never be taken for a remote-tracking branch or for the branch itself. Revisions
// handed to git are full ref names for the same reason.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelko {

struct GitBranchAnalysis {
    // One branch name, its local and remote-tracking copies merged.
    struct BranchRef {
        std::string name;
        std::optional<std::string> localSha;
        std::optional<std::string> remoteSha;
        // Full name of the remote-tracking ref `remoteSha` was read from.
        std::optional<std::string> remoteRef;
        // Full name of the local branch's upstream.
        std::optional<std::string> upstream;
        std::optional<std::string> subject;
        std::optional<std::string> date;  // "%(committerdate:iso8601)" as git prints it
        bool isHead = false;
    };

    // The refs in the order git listed them, one entry per name.
    class BranchRefs {
      public:
        const std::vector<BranchRef>& all() const { return refs_; }
        const BranchRef* find(const std::string& name) const;
        bool contains(const std::string& name) const { return find(name) != nullptr; }
        bool empty() const { return refs_.empty(); }
        BranchRef& entry(const std::string& name, bool& created);

      private:
        std::vector<BranchRef> refs_;
        std::map<std::string, std::size_t> index_;
    };

    // The merge analysis of one branch against the base.
    struct Computed {
        std::string mergeState;
        std::optional<std::string> undeterminedReason;
        std::optional<std::string> integration;
        std::optional<std::int64_t> ahead;
        std::optional<std::int64_t> behind;
        std::optional<std::vector<std::string>> changedFiles;
    };

    struct FirstParentScan {
        std::set<std::string> shas;
        bool truncated = false;
    };

    struct WorkingTreeFlags {
        bool hasUncommitted = false;
        bool hasConflicts = false;
    };

    static constexpr std::int64_t firstParentScanLimit = 2000;

    // The unit separator that joins the fields of the ref listing.
    static constexpr std::string_view separator = "\x1f";
    // The "--format=" argument of the ref listing: refname, upstream, objectname, committer date,
    // subject, HEAD marker.
    static std::string refListingFormat();

    // `git remote`: trimmed non-empty lines, in order.
    static std::vector<std::string> parseRemotes(std::string_view output);
    // The branch name of a full ref name and whether it is remote-tracking; nullopt for other refs, a
    // remote's HEAD and empty names. The first remote in list order whose prefix matches wins.
    static std::optional<std::pair<std::string, bool>> branchName(std::string_view fullRef,
                                                                  const std::vector<std::string>& remotes);
    static BranchRefs parseRefListing(std::string_view output, const std::vector<std::string>& remotes);
    // `for-each-ref --contains` with full names: the branch names, remote copies counted as the branch.
    static std::set<std::string> parseContainingBranches(std::string_view output,
                                                         const std::vector<std::string>& remotes);
    static FirstParentScan parseFirstParentScan(std::string_view output);
    // `worktree list --porcelain`: branch name -> worktree path.
    static std::map<std::string, std::string> parseWorktrees(std::string_view output);
    // `status --porcelain=v2`.
    static WorkingTreeFlags parseWorkingTreeFlags(std::string_view output);
    // `rev-list --left-right --count`: (ahead, behind).
    static std::optional<std::pair<std::int64_t, std::int64_t>> parseAheadBehind(std::string_view output);
    // `diff --name-only`: paths in git's order, quoted paths unquoted.
    static std::vector<std::string> parseChangedFiles(std::string_view output);
    static std::optional<std::int64_t> parseCount(std::string_view output);

    // The revision a branch is compared by: the local branch, else its upstream, else its
    // remote-tracking copy; nullopt without any.
    static std::optional<std::string> revision(const BranchRef& ref);

    // Every branch's estimated parent and "confirmed" or "estimated": the branch among those whose tips
    // lie in its history (base excluded) that itself holds the most of the others, the newest of equals;
    // the base when there is none. Containment is tabulated once, so this stays cheap for many branches.
    using Parent = std::pair<std::optional<std::string>, std::string>;
    static std::map<std::string, Parent> resolveParents(
        const std::optional<std::string>& baseBranch, const BranchRefs& refs,
        const std::map<std::string, std::set<std::string>>& descendants);
};

}  // namespace pelko
