#pragma once
// GitBranchMapRanking: the last steps of a branch map: overlaps between open branches, the priority of
// every node (0 most relevant to 6 stale), the sort, and the bound on the number of nodes. Pure
// functions over the analysed branches; safe from any thread.
//
// Bounding never drops the current or the base branch: when either lies outside the limit it takes the
// place of the last node inside that is neither, so the list can exceed the limit by the ones kept.
// Overlaps are found through an index from file to branches, so branches that share nothing cost
// nothing; a node lists at most `maxOverlaps` of them, with sample paths cut to `maxPathBytes`.
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "git/GitBranchMapPayload.hpp"
#include "platform/Date.hpp"

namespace pelko {

struct GitBranchMapRanking {
    // One branch's changed files, for those whose merge state is "unmerged" or "mergedWithFollowUp".
    struct OpenBranch {
        std::string name;
        std::vector<std::string> changedFiles;
    };

    static constexpr std::size_t maxOverlaps = 256;
    static constexpr std::size_t maxPathBytes = 1024;

    // Which open branches changed which files, indexed both ways; a branch's overlaps are read from it
    // in time proportional to the branches it shares files with.
    class Overlaps {
      public:
        explicit Overlaps(const std::vector<OpenBranch>& branches);
        // The open branches that share a file with another one.
        std::set<std::string> overlapping() const;
        // The branch's overlaps (at most five sample paths each, sorted), sorted by branch name, the
        // first `maxOverlaps`; empty for a name that is not an open branch.
        std::vector<GitBranchMapOverlapPayload> of(const std::string& name) const;

      private:
        std::vector<std::string> names_;
        std::map<std::string, std::size_t> indexOf_;
        std::vector<std::vector<std::string>> files_;
        std::unordered_map<std::string_view, std::vector<std::size_t>> branchesOf_;
    };

    // Sets every node's priority. `relevant`: the names that get 0 (the current branch, the branches
    // in its history, the base); `overlapping`: the names with overlaps.
    static void applyPriority(std::vector<GitBranchMapNodePayload>& nodes,
                              const std::set<std::string>& relevant, const std::set<std::string>& overlapping,
                              Date now);

    // ISO 8601 internet date-time, else git's "yyyy-MM-dd HH:mm:ss +zzzz"; nullopt for anything else.
    static std::optional<Date> parseDate(std::string_view text);

    // Stable: priority ascending, then the date text descending (no date last).
    static void sortNodes(std::vector<GitBranchMapNodePayload>& nodes);

    // `nodes` must be sorted; a limit below 1 keeps all.
    static std::vector<GitBranchMapNodePayload> boundedNodes(
        const std::vector<GitBranchMapNodePayload>& nodes, std::int64_t limit);

    // The first nodes, in order, whose JSON adds up to at most `maxBytes`; the current and the base
    // branch stay in any case, the room for them kept first. `complete` fills in a node before it is
    // measured, and is called for no node past the first that does not fit.
    static std::vector<GitBranchMapNodePayload> withinBytes(
        std::vector<GitBranchMapNodePayload> nodes, std::size_t maxBytes,
        const std::function<void(GitBranchMapNodePayload&)>& complete);
};

}  // namespace pelko
