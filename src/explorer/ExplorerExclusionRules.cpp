#include "explorer/ExplorerExclusionRules.hpp"

#include "explorer/ExplorerService.hpp"

namespace pelko {

const std::vector<std::string>& ExplorerExclusionRules::builtInNames() {
    static const std::vector<std::string> names{".git", ".DS_Store", "node_modules", "Pods", "tmp", ".build"};
    return names;
}

ExplorerExclusionRules::ExplorerExclusionRules(const std::vector<std::string>& projectPaths) {
    for (const auto& name : builtInNames()) add(name);
    for (const auto& entry : projectPaths) {
        // The same normalization as a requested path; "~" expands to an absolute path, so it drops.
        // The root ("") is never hidden.
        auto normalized = ExplorerService::normalizeRelativePath(entry);
        if (normalized && !normalized->empty()) add(*normalized);
    }
}

void ExplorerExclusionRules::add(const std::string& entry) {
    if (entry.find('/') != std::string::npos) {
        paths_.push_back(entry);
    } else {
        names_.insert(entry);
    }
}

bool ExplorerExclusionRules::contains(std::string_view relativePath) const {
    if (relativePath.empty()) return false;
    // One reusable buffer: the name set is keyed by std::string.
    std::string piece;
    std::size_t start = 0;
    while (start <= relativePath.size()) {
        auto end = relativePath.find('/', start);
        if (end == std::string_view::npos) end = relativePath.size();
        if (end > start) {
            piece.assign(relativePath.substr(start, end - start));
            if (names_.count(piece)) return true;
        }
        start = end + 1;
    }
    for (const auto& path : paths_) {
        if (relativePath == path) return true;
        if (relativePath.size() > path.size() && relativePath.starts_with(path) &&
            relativePath[path.size()] == '/') {
            return true;
        }
    }
    return false;
}

}  // namespace pelko
