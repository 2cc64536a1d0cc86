#include "git/GitWorkingTreeParser.hpp"

#include <string>

#include "git/GitOutputText.hpp"
#include "git/GitQuotedPath.hpp"

namespace pelko {

namespace {

std::optional<std::string> describeStatus(char code) {
    switch (code) {
        case 'A':
            return "added";
        case 'M':
            return "modified";
        case 'D':
            return "deleted";
        case 'R':
            return "renamed";
        case 'C':
            return "copied";
        case 'U':
            return "updated";
        case 'T':
            return "typechange";
        case '?':
            return "untracked";
        case '!':
            return "ignored";
        default:
            return std::nullopt;
    }
}

// At most `count` fields split at single spaces; the last keeps the rest of the line (empty fields kept).
std::vector<std::string_view> fields(std::string_view line, std::size_t count) {
    std::vector<std::string_view> result;
    while (result.size() + 1 < count) {
        std::size_t space = line.find(' ');
        if (space == std::string_view::npos) break;
        result.push_back(line.substr(0, space));
        line.remove_prefix(space + 1);
    }
    result.push_back(line);
    return result;
}

std::string decodePath(std::string_view raw) {
    return GitQuotedPath::unquote(raw);
}

void setStatuses(GitWorkingTreeEntry& entry, std::string_view letters) {
    entry.stagedStatus = describeStatus(letters[0]);
    entry.unstagedStatus = describeStatus(letters[1]);
    entry.isConflicted = letters[0] == 'U' || letters[1] == 'U';
}

std::optional<GitWorkingTreeEntry> parseRegular(std::string_view line) {
    auto parts = fields(line, 9);
    if (parts.size() < 9 || parts[1].size() != 2) return std::nullopt;
    GitWorkingTreeEntry entry;
    entry.path = decodePath(parts[8]);
    setStatuses(entry, parts[1]);
    entry.intentToAdd = parts[1][0] == 'I' || parts[1][1] == 'I';
    return entry;
}

std::optional<GitWorkingTreeEntry> parseRename(std::string_view line) {
    std::size_t tab = line.find('\t');
    std::string_view head = line.substr(0, tab);
    std::string_view tail = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
    auto parts = fields(head, 10);
    if (parts.size() < 10 || parts[1].size() != 2) return std::nullopt;
    GitWorkingTreeEntry entry;
    std::string digits;
    for (char c : parts[8]) {
        if (c >= '0' && c <= '9') digits += c;
    }
    if (!digits.empty()) entry.renameScore = GitOutputText::parseInteger(digits);
    entry.path = decodePath(parts[9]);
    entry.oldPath = decodePath(tail);
    setStatuses(entry, parts[1]);
    return entry;
}

std::optional<GitWorkingTreeEntry> parseConflict(std::string_view line) {
    auto parts = fields(line, 11);
    if (parts.size() != 11) return std::nullopt;
    GitWorkingTreeEntry entry;
    entry.path = decodePath(parts[10]);
    entry.stagedStatus = "conflicted";
    entry.unstagedStatus = "conflicted";
    entry.isConflicted = true;
    return entry;
}

}  // namespace

std::vector<GitWorkingTreeEntry> GitWorkingTreeParser::parse(std::string_view output) const {
    std::vector<GitWorkingTreeEntry> entries;
    for (auto line : GitOutputText::nonEmptyLines(output)) {
        std::optional<GitWorkingTreeEntry> entry;
        switch (line[0]) {
            case '1':
                entry = parseRegular(line);
                break;
            case '2':
                entry = parseRename(line);
                break;
            case 'u':
                entry = parseConflict(line);
                break;
            case '?':
                if (line.size() >= 3) {
                    entry.emplace();
                    entry->path = decodePath(line.substr(2));
                    entry->isUntracked = true;
                }
                break;
            default:
                break;
        }
        if (entry) entries.push_back(std::move(*entry));
    }
    return entries;
}

}  // namespace pelko
