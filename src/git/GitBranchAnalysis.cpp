#include "git/GitBranchAnalysis.hpp"

#include "git/GitOutputText.hpp"
#include "git/GitQuotedPath.hpp"

namespace pelko {
namespace {

using Text = GitOutputText;

constexpr std::string_view headsPrefix = "refs/heads/";
constexpr std::string_view remotesPrefix = "refs/remotes/";

std::optional<std::string> nonEmpty(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

}  // namespace

const GitBranchAnalysis::BranchRef* GitBranchAnalysis::BranchRefs::find(const std::string& name) const {
    auto found = index_.find(name);
    return found == index_.end() ? nullptr : &refs_[found->second];
}

GitBranchAnalysis::BranchRef& GitBranchAnalysis::BranchRefs::entry(const std::string& name, bool& created) {
    auto [found, inserted] = index_.emplace(name, refs_.size());
    created = inserted;
    if (inserted) refs_.push_back(BranchRef{.name = name});
    return refs_[found->second];
}

std::string GitBranchAnalysis::refListingFormat() {
    std::string format = "--format=%(refname)";
    for (const char* field :
         {"%(upstream)", "%(objectname)", "%(committerdate:iso8601)", "%(contents:subject)", "%(HEAD)"}) {
        format += separator;
        format += field;
    }
    return format;
}

std::vector<std::string> GitBranchAnalysis::parseRemotes(std::string_view output) {
    std::vector<std::string> remotes;
    for (auto line : Text::nonEmptyLines(output)) {
        if (auto name = Text::trim(line); !name.empty()) remotes.emplace_back(name);
    }
    return remotes;
}

std::optional<std::pair<std::string, bool>> GitBranchAnalysis::branchName(
    std::string_view fullRef, const std::vector<std::string>& remotes) {
    std::optional<std::pair<std::string, bool>> result;
    if (fullRef.starts_with(headsPrefix)) {
        result.emplace(std::string(fullRef.substr(headsPrefix.size())), false);
    } else if (fullRef.starts_with(remotesPrefix)) {
        std::string_view rest = fullRef.substr(remotesPrefix.size());
        for (const auto& remote : remotes) {
            if (rest.size() > remote.size() && rest.starts_with(remote) && rest[remote.size()] == '/') {
                result.emplace(std::string(rest.substr(remote.size() + 1)), true);
                break;
            }
        }
    }
    if (!result || result->first.empty() || result->first == "HEAD") return std::nullopt;
    return result;
}

GitBranchAnalysis::BranchRefs GitBranchAnalysis::parseRefListing(std::string_view output,
                                                                 const std::vector<std::string>& remotes) {
    BranchRefs refs;
    for (auto line : Text::nonEmptyLines(output)) {
        auto fields = Text::split(line, separator);
        if (fields.size() < 6) continue;
        auto branch = branchName(fields[0], remotes);
        if (!branch) continue;
        // A subject holding the separator spreads over several fields; the HEAD marker is the last one.
        std::string subjectText(fields[4]);
        for (std::size_t index = 5; index + 1 < fields.size(); ++index) {
            subjectText += separator;
            subjectText += fields[index];
        }
        auto upstream = nonEmpty(fields[1]);
        std::string sha(fields[2]);
        auto date = nonEmpty(fields[3]);
        auto subject = nonEmpty(subjectText);
        bool isHead = fields.back() == "*";
        const auto& [name, isRemote] = *branch;

        bool created = false;
        BranchRef& ref = refs.entry(name, created);
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

std::set<std::string> GitBranchAnalysis::parseContainingBranches(std::string_view output,
                                                                 const std::vector<std::string>& remotes) {
    std::set<std::string> names;
    for (auto line : Text::nonEmptyLines(output)) {
        if (auto branch = branchName(Text::trim(line), remotes)) names.insert(branch->first);
    }
    return names;
}

GitBranchAnalysis::FirstParentScan GitBranchAnalysis::parseFirstParentScan(std::string_view output) {
    FirstParentScan scan;
    for (auto line : Text::nonEmptyLines(output)) {
        if (auto sha = Text::trim(line); !sha.empty()) scan.shas.emplace(sha);
    }
    scan.truncated = static_cast<std::int64_t>(scan.shas.size()) >= firstParentScanLimit;
    return scan;
}

std::map<std::string, std::string> GitBranchAnalysis::parseWorktrees(std::string_view output) {
    std::map<std::string, std::string> table;
    std::optional<std::string> path;
    for (auto line : Text::split(output, "\n")) {
        if (line.starts_with("worktree ")) {
            path = std::string(line.substr(9));
        } else if (line.starts_with("branch ")) {
            std::string_view branch = line.substr(7);
            if (branch.starts_with(headsPrefix)) branch.remove_prefix(headsPrefix.size());
            if (path && !branch.empty()) table[std::string(branch)] = *path;
        } else if (line.empty()) {
            path.reset();
        }
    }
    return table;
}

GitBranchAnalysis::WorkingTreeFlags GitBranchAnalysis::parseWorkingTreeFlags(std::string_view output) {
    WorkingTreeFlags flags;
    for (auto line : Text::nonEmptyLines(output)) {
        if (line.starts_with("u ")) {
            flags.hasConflicts = true;
            flags.hasUncommitted = true;
        } else if (line.starts_with("1 ") || line.starts_with("2 ") || line.starts_with("? ")) {
            flags.hasUncommitted = true;
        }
    }
    return flags;
}

std::optional<std::pair<std::int64_t, std::int64_t>> GitBranchAnalysis::parseAheadBehind(
    std::string_view output) {
    std::vector<std::string_view> pieces;
    std::string_view text = Text::trim(output);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find_first_of(" \t", start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (pieces.size() < 2) return std::nullopt;
    auto behind = Text::parseInteger(pieces[0]);
    auto ahead = Text::parseInteger(pieces[1]);
    if (!behind || !ahead) return std::nullopt;
    return std::make_pair(*ahead, *behind);
}

std::vector<std::string> GitBranchAnalysis::parseChangedFiles(std::string_view output) {
    std::vector<std::string> paths;
    for (auto line : Text::nonEmptyLines(output)) {
        if (auto path = Text::trim(line); !path.empty()) paths.push_back(GitQuotedPath::unquote(path));
    }
    return paths;
}

std::optional<std::int64_t> GitBranchAnalysis::parseCount(std::string_view output) {
    return Text::parseInteger(Text::trim(output));
}

std::optional<std::string> GitBranchAnalysis::revision(const BranchRef& ref) {
    if (ref.localSha) return std::string(headsPrefix) + ref.name;
    if (ref.remoteSha) return ref.remoteRef;
    return std::nullopt;
}

std::map<std::string, GitBranchAnalysis::Parent> GitBranchAnalysis::resolveParents(
    const std::optional<std::string>& baseBranch, const BranchRefs& refs,
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

    std::map<std::string, Parent> parents;
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

}  // namespace pelko
