#include "platform/ProjectPath.hpp"

#include <vector>

namespace pelko {

namespace {

template <typename Visit>
void forEachComponent(std::string_view path, Visit visit) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        visit(path.substr(start, end - start));
        start = end + 1;
    }
}

std::string joinAll(const std::vector<std::string_view>& parts, bool absolute) {
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) result.push_back('/');
        result.append(parts[i]);
    }
    return result;
}

}  // namespace

std::optional<std::string> ProjectPath::normalize(std::string_view pagePath, LeadingSlash leadingSlash) {
    // A NUL would cut the path short at the system call, past every check made here.
    if (pagePath.find('\0') != std::string_view::npos) return std::nullopt;
    if (pagePath == "~" || pagePath.starts_with("~/")) return std::nullopt;
    if (pagePath.starts_with('/') && leadingSlash == LeadingSlash::refused) return std::nullopt;
    std::vector<std::string_view> parts;
    bool climbs = false;
    forEachComponent(pagePath, [&](std::string_view part) {
        if (part.empty() || part == ".") return;
        if (part == "..") {
            if (parts.empty())
                climbs = true;
            else
                parts.pop_back();
            return;
        }
        parts.push_back(part);
    });
    if (climbs) return std::nullopt;
    return joinAll(parts, false);
}

bool ProjectPath::namesNoItem(std::string_view pagePath) {
    bool onlyRoot = true;
    forEachComponent(pagePath, [&](std::string_view part) {
        if (!part.empty() && part != ".") onlyRoot = false;
    });
    return onlyRoot;
}

std::string ProjectPath::standardize(std::string_view path) {
    const bool absolute = path.starts_with('/');
    std::vector<std::string_view> parts;
    forEachComponent(path, [&](std::string_view part) {
        if (part.empty() || part == ".") return;
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
            return;
        }
        parts.push_back(part);
    });
    std::string result = joinAll(parts, absolute);
    return result.empty() ? std::string(".") : result;
}

std::optional<std::string> ProjectPath::relativeTo(std::string_view path, std::string_view root) {
    const std::string standardPath = standardize(path);
    std::string prefix = standardize(root);
    if (standardPath == prefix) return std::string();
    // For the root "/" the separator is the root's own "/".
    if (!prefix.ends_with('/')) prefix.push_back('/');
    if (standardPath.size() > prefix.size() && standardPath.starts_with(prefix))
        return standardPath.substr(prefix.size());
    return std::nullopt;
}

std::string ProjectPath::join(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string joined;
    joined.reserve(folder.size() + 1 + name.size());
    joined.append(folder).append("/").append(name);
    return joined;
}

std::string_view ProjectPath::folderOf(std::string_view relativePath) {
    const std::size_t slash = relativePath.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : relativePath.substr(0, slash);
}

std::string_view ProjectPath::nameOf(std::string_view relativePath) {
    const std::size_t slash = relativePath.rfind('/');
    return slash == std::string_view::npos ? relativePath : relativePath.substr(slash + 1);
}

}  // namespace pelko
