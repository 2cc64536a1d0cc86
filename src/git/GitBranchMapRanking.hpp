#pragma once
// GitBranchMapRanking: the last steps of a branch map: overlaps between open branches, the priority of
// every node (0 most relevant to 6 stale), the sort, and the bound on the number of nodes. Pure
// functions over the analysed branches; safe from any thread.
//
// Bounding never drops the current or the base branch: when either lies outside the limit it takes the
// place of the last node inside that is neither, so the list can exceed the limit by the ones kept.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
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

    // Each pair of open branches sharing files gets an overlap on both sides (at most five sample
    // paths, sorted); every list is sorted by branch name.
    static std::map<std::string, std::vector<GitBranchMapOverlapPayload>> computeOverlaps(
        const std::vector<OpenBranch>& branches);

    // Sets every node's priority. `descendants` maps a branch to the branches whose history holds its tip.
    static void applyPriority(std::vector<GitBranchMapNodePayload>& nodes,
                              const std::optional<std::string>& baseBranch,
                              const std::map<std::string, std::set<std::string>>& descendants, Date now);

    // ISO 8601 internet date-time, else git's "yyyy-MM-dd HH:mm:ss +zzzz"; nullopt for anything else.
    static std::optional<Date> parseDate(std::string_view text);

    // Stable: priority ascending, then the date text descending (no date last).
    static void sortNodes(std::vector<GitBranchMapNodePayload>& nodes);

    // `nodes` must be sorted; a limit below 1 keeps all.
    static std::vector<GitBranchMapNodePayload> boundedNodes(
        const std::vector<GitBranchMapNodePayload>& nodes, std::int64_t limit);
};

}  // namespace pelko
