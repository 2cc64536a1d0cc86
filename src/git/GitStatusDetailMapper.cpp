#include "git/GitStatusDetailMapper.hpp"

#include <algorithm>
#include <map>

#include "git/GitOutputText.hpp"
#include "git/GitQuotedPath.hpp"
#include "platform/Collation.hpp"

namespace pelko {

namespace {

std::string describeStatus(char code) {
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
        case '?':
            return "untracked";
        default:
            return "modified";
    }
}

struct TreeBuilder {
    std::optional<std::string> status;
    std::map<std::string, TreeBuilder> children;

    void insert(const std::vector<std::string_view>& components, std::size_t index,
                const std::string& change) {
        if (index == components.size()) {
            status = change;
            return;
        }
        children[std::string(components[index])].insert(components, index + 1, change);
    }

    std::vector<GitChangeTreeNode> makeNodes() const {
        struct Item {
            bool isFolder;
            std::string key;
            const std::string* name;
            const TreeBuilder* node;
        };
        std::vector<Item> items;
        items.reserve(children.size());
        for (const auto& [name, child] : children) {
            items.push_back({!child.children.empty(), collationKey(name), &name, &child});
        }
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
            if (a.isFolder != b.isFolder) return a.isFolder;
            if (a.key != b.key) return a.key < b.key;
            return *a.name < *b.name;
        });
        std::vector<GitChangeTreeNode> nodes;
        nodes.reserve(items.size());
        for (const auto& item : items) {
            auto childNodes = item.node->makeNodes();
            if (childNodes.empty()) {
                nodes.push_back({*item.name, item.node->status.value_or("modified"), std::nullopt});
            } else {
                nodes.push_back({*item.name, item.node->status.value_or("directory"), std::move(childNodes)});
            }
        }
        return nodes;
    }
};

// One path token of a porcelain v1 line: a quoted path up to its closing quote, else the whole text.
// Returns the token and the text after it.
std::pair<std::string_view, std::string_view> pathToken(std::string_view text) {
    if (text.starts_with('"')) {
        for (std::size_t i = 1; i < text.size(); ++i) {
            if (text[i] == '\\') {
                ++i;
            } else if (text[i] == '"') {
                return {text.substr(0, i + 1), text.substr(i + 1)};
            }
        }
    }
    return {text, {}};
}

// The number after "<prefix> " up to the next "," or "]"; 0 when missing or unreadable.
std::int64_t extractCount(std::string_view prefix, std::string_view text) {
    std::string needle = std::string(prefix) + " ";
    std::size_t at = text.find(needle);
    if (at == std::string_view::npos) return 0;
    std::string_view after = text.substr(at + needle.size());
    std::size_t end = after.find(',');
    if (end == std::string_view::npos) end = after.find(']');
    if (end == std::string_view::npos) return 0;
    return GitOutputText::parseInteger(GitOutputText::trimBlanks(after.substr(0, end))).value_or(0);
}

}  // namespace

std::pair<std::string, std::string> GitStatusDetailMapper::splitPaths(std::string_view rest) {
    constexpr std::string_view arrow = " -> ";
    if (rest.starts_with('"')) {
        auto [first, after] = pathToken(rest);
        if (after.starts_with(arrow)) {
            return {GitQuotedPath::unquote(first), GitQuotedPath::unquote(after.substr(arrow.size()))};
        }
        std::string path = GitQuotedPath::unquote(rest);
        return {path, path};
    }
    // Unquoted paths hold no spaces, so the arrow is unambiguous.
    if (std::size_t at = rest.find(arrow); at != std::string_view::npos) {
        return {std::string(rest.substr(0, at)), GitQuotedPath::unquote(rest.substr(at + arrow.size()))};
    }
    return {std::string(rest), std::string(rest)};
}

GitStatusDetailMapper::BranchLine GitStatusDetailMapper::parseBranchLine(std::string_view summary) {
    BranchLine line;
    std::string_view name = summary;
    if (std::size_t bracket = summary.find('['); bracket != std::string_view::npos) {
        std::string_view counts = summary.substr(bracket);
        line.ahead = extractCount("ahead", counts);
        line.behind = extractCount("behind", counts);
        name = GitOutputText::trimBlanks(summary.substr(0, bracket));
    }
    if (std::size_t dots = name.find("..."); dots != std::string_view::npos) {
        line.branch = std::string(name.substr(0, dots));
        std::string_view remote = GitOutputText::trimBlanks(name.substr(dots + 3));
        if (!remote.empty()) line.remote = std::string(remote);
    } else {
        line.branch = std::string(name);
    }
    return line;
}

GitStatusDetailComponents GitStatusDetailMapper::parse(std::string_view statusOutput) const {
    GitStatusDetailComponents components;
    for (auto line : GitOutputText::split(statusOutput, "\n")) {
        if (line.starts_with("## ")) {
            auto branch = parseBranchLine(line.substr(3));
            components.branch = std::move(branch.branch);
            components.remote = std::move(branch.remote);
            components.ahead = branch.ahead;
            components.behind = branch.behind;
        } else if (line.starts_with("?? ")) {
            components.untracked.push_back({GitQuotedPath::unquote(line.substr(3)), "untracked"});
        } else if (line.size() >= 3) {
            char x = line[0];
            char y = line[1];
            auto [oldPath, newPath] = splitPaths(line.substr(3));
            if (x != ' ') components.staged.push_back({newPath, describeStatus(x)});
            if (y != ' ') components.unstaged.push_back({y == 'R' ? newPath : oldPath, describeStatus(y)});
        }
    }
    return components;
}

std::vector<GitChangeTreeNode> GitStatusDetailMapper::buildTree(
    const std::vector<GitStatusDetailComponents::Change>& changes) const {
    TreeBuilder root;
    for (const auto& change : changes) {
        std::vector<std::string_view> parts;
        for (auto part : GitOutputText::split(change.path, "/")) {
            if (!part.empty()) parts.push_back(part);
        }
        root.insert(parts, 0, change.status);
    }
    return root.makeNodes();
}

}  // namespace pelko
