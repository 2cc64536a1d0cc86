#include "git/GitCurrentBranch.hpp"

#include "git/GitOutputText.hpp"

namespace pelko {

const std::vector<std::string> GitCurrentBranch::headArguments{"rev-parse", "--symbolic-full-name", "HEAD"};
const std::vector<std::string> GitCurrentBranch::upstreamArguments{"rev-parse", "--symbolic-full-name",
                                                                   "@{u}"};

std::string GitCurrentBranch::shortName(std::string_view output) {
    std::string_view name = GitOutputText::trim(output);
    for (std::string_view prefix : {"refs/heads/", "refs/remotes/"}) {
        if (name.starts_with(prefix)) return std::string(name.substr(prefix.size()));
    }
    return std::string(name);
}

}  // namespace pelko
