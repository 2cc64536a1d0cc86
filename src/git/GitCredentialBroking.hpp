#pragma once
// GitCredentialBroking: hands the GitHub token to one authenticated `git` run without a prompt.
//
// `prepareEnvironment` writes a private askpass script of that run's own and returns the keys that
// make `git` use it (GIT_ASKPASS, GIT_ASKPASS_REQUIRE, PELKO_GITHUB_TOKEN, and PELKO_GITHUB_SCHEME,
// PELKO_GITHUB_HOST, PELKO_GITHUB_PORT, with which the script answers only prompts for GitHub's
// address); the token itself travels only in that environment, never in a file. It throws
// GitCredentialBrokerError when the script cannot be written. `cleanup` takes what one
// `prepareEnvironment` returned, removes that run's script and nothing else, and never fails. Both are
// callable from any thread; authenticated runs may overlap (the Git service runs each project on its
// own queue).
#include <map>
#include <string>

#include "git/GitHubWebOrigin.hpp"

namespace pelko {

class GitCredentialBroking {
  public:
    virtual ~GitCredentialBroking() = default;
    virtual std::map<std::string, std::string> prepareEnvironment(const std::string& token,
                                                                  const GitHubWebOrigin& gitHub) = 0;
    virtual void cleanup(const std::map<std::string, std::string>& prepared) = 0;
};

}  // namespace pelko
