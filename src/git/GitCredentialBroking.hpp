#pragma once
// GitCredentialBroking: hands the GitHub token to one authenticated `git` run without a prompt.
//
// `prepareEnvironment` writes a private askpass script and returns the keys that make `git` use it
// (GIT_ASKPASS, GIT_ASKPASS_REQUIRE, PELKO_GITHUB_TOKEN); the token itself travels only in that
// environment, never in a file. It throws GitCredentialBrokerError when the script cannot be written.
// `cleanup` removes the script and never fails. Both are serialised; one script exists at a time, so
// authenticated runs must not overlap (the Git service runs them on its serial queue).
#include <map>
#include <string>

namespace pelko {

class GitCredentialBroking {
  public:
    virtual ~GitCredentialBroking() = default;
    virtual std::map<std::string, std::string> prepareEnvironment(const std::string& token) = 0;
    virtual void cleanup() = 0;
};

}  // namespace pelko
