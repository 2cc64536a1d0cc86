#pragma once
// ExplorerExclusionRules: which relative paths of a project the explorer hides and never watches.
//
// A value, built per listing and per watch session from a project's excluded paths; immutable and
// safe to share between threads once built. The built-in names ".git", ".DS_Store", "node_modules",
// "Pods", "tmp" and ".build" are always present. An entry without "/" hides every path component of
// that name at any depth; an entry with "/" hides that path and everything under it. Empty, ".",
// absolute and root-escaping entries are dropped. The empty path (the project root) is never hidden.
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace pelko {

class ExplorerExclusionRules {
  public:
    static const std::vector<std::string>& builtInNames();

    explicit ExplorerExclusionRules(const std::vector<std::string>& projectPaths = {});

    // `relativePath` is normalized ("a/b", no leading or trailing "/").
    bool contains(std::string_view relativePath) const;

    const std::unordered_set<std::string>& names() const { return names_; }
    const std::vector<std::string>& paths() const { return paths_; }

  private:
    void add(const std::string& entry);

    std::unordered_set<std::string> names_;
    std::vector<std::string> paths_;
};

}  // namespace pelko
