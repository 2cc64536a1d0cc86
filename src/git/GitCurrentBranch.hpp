#pragma once
// GitCurrentBranch: how every reader learns which branch git has checked out, and that branch's
// upstream. Pure; callers run the command through their own runner and pass its output here.
//
// git's short names (`rev-parse --abbrev-ref`, `symbolic-ref --short`) grow a prefix when another ref
// shares the name: beside a tag "main" the branch "main" is printed as "heads/main". So the full ref
// name is asked for and its namespace taken off here, never by git.
#include <string>
#include <string_view>
#include <vector>

namespace pelko {

struct GitCurrentBranch {
    // `git` with these prints the checked-out branch's full ref name, or "HEAD" when the head is
    // detached; it fails outside a repository and before the first commit.
    static const std::vector<std::string> headArguments;
    // `git` with these prints the full ref name of the current branch's upstream; it fails without one.
    static const std::vector<std::string> upstreamArguments;

    // The output of either command as the user names the ref: "refs/heads/main" is "main",
    // "refs/remotes/origin/main" is "origin/main"; anything else ("HEAD") stays as it is.
    static std::string shortName(std::string_view output);
};

}  // namespace pelko
