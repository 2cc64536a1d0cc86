#pragma once
// GitWorkingTreeParser: reads `git status --porcelain=v2 --branch --untracked-files=all` (without
// -z) into GitWorkingTreeEntry values, in line order. Pure and stateless; safe from any thread.
// Lines of other shapes (headers, ignored files, malformed lines) are skipped. Quoted paths are
// unquoted; octal escapes become bytes, so a Japanese name arrives intact.
#include <optional>
#include <string_view>
#include <vector>

#include "git/GitWorkingTreeEntry.hpp"

namespace pelko {

class GitWorkingTreeParser {
  public:
    std::vector<GitWorkingTreeEntry> parse(std::string_view output) const;
};

}  // namespace pelko
