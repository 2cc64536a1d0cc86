#pragma once
// GitBranchAnalysis: the records of one branch-map computation and the pure steps over git's output
// (ref listing, subjects, first-parent scan, worktrees, working-tree flags, counts) and over the
// gathered records (comparison revisions). Safe from any thread.
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

    // One listed ref: a local branch or one remote-tracking copy of a branch.
    struct Copy {
        std::string fullRef;
        std::string sha;
        std::size_t branch;  // index into `BranchRefs::all()`
    };

    // The refs in the order git listed them, one entry per name, and every listed copy in that order.
    class BranchRefs {
      public:
        const std::vector<BranchRef>& all() const { return refs_; }
        const std::vector<Copy>& copies() const { return copies_; }
        const BranchRef* find(const std::string& name) const;
        std::optional<std::size_t> indexOf(const std::string& name) const;
        bool contains(const std::string& name) const { return find(name) != nullptr; }
        bool empty() const { return refs_.empty(); }
        BranchRef& entry(const std::string& name, bool& created);
        void addCopy(std::string fullRef, std::string sha, std::size_t branch);

      private:
        std::vector<BranchRef> refs_;
        std::vector<Copy> copies_;
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
        // Commit id -> position on the line, 0 for the newest.
        std::map<std::string, std::size_t> shas;
        bool truncated = false;
    };

    struct WorkingTreeFlags {
        bool hasUncommitted = false;
        bool hasConflicts = false;
    };

    static constexpr std::int64_t firstParentScanLimit = 2000;

    // The unit separator that joins the fields of the ref listing.
    static constexpr std::string_view separator = "\x1f";
    // Longest ref name taken into the map; longer ones are left out.
    static constexpr std::size_t maxNameBytes = 1024;
    // Longest subject kept; a longer one is cut between characters and ends with "…".
    static constexpr std::size_t maxSubjectBytes = 1024;

    // The "--format=" argument of the ref listing: refname, upstream, objectname, committer date, HEAD
    // marker. Subjects are read apart, only for the branches shown, since their size is the repository's.
    static std::string refListingFormat();
    // The "--format=" argument of a subject reading: objectname, a blank, subject.
    static std::string subjectFormat();

    // `git remote`: trimmed non-empty lines, in order.
    static std::vector<std::string> parseRemotes(std::string_view output);
    // The branch name of a full ref name and whether it is remote-tracking; nullopt for other refs, a
    // remote's HEAD and empty names. The first remote in list order whose prefix matches wins.
    static std::optional<std::pair<std::string, bool>> branchName(std::string_view fullRef,
                                                                  const std::vector<std::string>& remotes);
    static BranchRefs parseRefListing(std::string_view output, const std::vector<std::string>& remotes);
    // A subject reading: commit id -> subject, cut to `maxSubjectBytes`. With `cut`, the output stopped
    // at a size limit anywhere, and its last line (when it names its commit) is the start of a subject.
    static std::map<std::string, std::string> parseSubjects(std::string_view output, bool cut);
    // A subject as shown: at most `maxSubjectBytes`, cut between characters with "…" appended.
    static std::string shownSubject(std::string_view subject);
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
    // The commit a branch's containment is asked for: the local tip, else the remote-tracking one.
    static const std::optional<std::string>& tip(const BranchRef& ref) {
        return ref.localSha ? ref.localSha : ref.remoteSha;
    }

    // A branch's parent and "confirmed", "estimated" or "undetermined".
    using Parent = std::pair<std::optional<std::string>, std::string>;
};

}  // namespace pelko
