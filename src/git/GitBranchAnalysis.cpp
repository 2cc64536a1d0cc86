#include "git/GitBranchAnalysis.hpp"

#include "git/GitOutputText.hpp"
#include "git/GitQuotedPath.hpp"
#include "platform/CutText.hpp"

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

std::optional<std::size_t> GitBranchAnalysis::BranchRefs::indexOf(const std::string& name) const {
    auto found = index_.find(name);
    if (found == index_.end()) return std::nullopt;
    return found->second;
}

void GitBranchAnalysis::BranchRefs::addCopy(std::string fullRef, std::string sha, std::size_t branch) {
    copies_.push_back({std::move(fullRef), std::move(sha), branch});
}

GitBranchAnalysis::BranchRef& GitBranchAnalysis::BranchRefs::entry(const std::string& name, bool& created) {
    auto [found, inserted] = index_.emplace(name, refs_.size());
    created = inserted;
    if (inserted) refs_.push_back(BranchRef{.name = name});
    return refs_[found->second];
}

std::string GitBranchAnalysis::refListingFormat() {
    std::string format = "--format=%(refname)";
    for (const char* field : {"%(upstream)", "%(objectname)", "%(committerdate:iso8601)", "%(HEAD)"}) {
        format += separator;
        format += field;
    }
    return format;
}

std::string GitBranchAnalysis::subjectFormat() {
    return "--format=%(objectname) %(contents:subject)";
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
        if (fields.size() < 5) continue;
        auto branch = branchName(fields[0], remotes);
        if (!branch || branch->first.size() > maxNameBytes) continue;
        auto upstream = nonEmpty(fields[1]);
        std::string sha(fields[2]);
        auto date = nonEmpty(fields[3]);
        bool isHead = fields[4] == "*";
        const auto& [name, isRemote] = *branch;

        bool created = false;
        BranchRef& ref = refs.entry(name, created);
        if (!isRemote) {
            ref.localSha = sha;
            ref.upstream = upstream;
            ref.date = date;
            ref.isHead = ref.isHead || isHead;
        } else {
            ref.remoteSha = sha;
            ref.remoteRef = std::string(fields[0]);
            if (created || !ref.date) ref.date = date;
            if (created) ref.isHead = isHead;
        }
        refs.addCopy(std::string(fields[0]), sha, *refs.indexOf(name));
    }
    return refs;
}

std::map<std::string, std::string> GitBranchAnalysis::parseSubjects(std::string_view output, bool cut) {
    std::map<std::string, std::string> subjects;
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find('\n', start);
        bool whole = end != std::string_view::npos;
        if (!whole) end = output.size();
        std::string_view line = output.substr(start, end - start);
        start = end + 1;
        if (!whole && !cut) break;
        std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos || blank == 0) continue;
        std::string_view subject = line.substr(blank + 1);
        // A cut last line holds only the start of its subject: shown cut even when it is short.
        std::string shown =
            whole ? shownSubject(subject) : std::string(CutText::head(subject, maxSubjectBytes)) + "\u2026";
        subjects[std::string(line.substr(0, blank))] = std::move(shown);
    }
    return subjects;
}

std::string GitBranchAnalysis::shownSubject(std::string_view subject) {
    if (subject.size() <= maxSubjectBytes) return std::string(subject);
    return std::string(CutText::head(subject, maxSubjectBytes)) + "\u2026";
}

GitBranchAnalysis::FirstParentScan GitBranchAnalysis::parseFirstParentScan(std::string_view output) {
    FirstParentScan scan;
    for (auto line : Text::nonEmptyLines(output)) {
        if (auto sha = Text::trim(line); !sha.empty()) scan.shas.emplace(sha, scan.shas.size());
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

}  // namespace pelko
