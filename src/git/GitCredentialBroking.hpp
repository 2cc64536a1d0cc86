#pragma once
// GitCredentialBroking: hands the GitHub token to one authenticated `git` run without a prompt, and
// tells afterwards whether GitHub refused it.
//
// `prepareEnvironment` makes a private place of that run's own and returns what git needs to use it:
// environment keys (GIT_ASKPASS, GIT_ASKPASS_REQUIRE, PELKO_GITHUB_TOKEN, and PELKO_GITHUB_SCHEME,
// PELKO_GITHUB_HOST, PELKO_GITHUB_PORT) and options that go before git's command, which empty the
// list of credential helpers (none of the user's or the repository's is asked, told or made to store
// anything) and then name the run's own helper. That helper gives the token only for GitHub's scheme,
// host (or a subdomain) and port, and keeps a note when git erases that very credential, which git
// does only after the server refused it; every prompt is refused. The token itself travels only in
// git's environment, never in a file or on a command line. It throws GitCredentialBrokerError when
// the place cannot be made. `wasRefused` says, once git has ended, whether git erased the run's
// credential. `cleanup` removes that run's place and nothing else, and never fails. All are callable
// from any thread; authenticated runs may overlap (the Git service runs each project on its own
// queue).
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "git/GitHubWebOrigin.hpp"

namespace pelko {

// What one preparation gives an authenticated run.
struct GitCredentialRun {
    std::map<std::string, std::string> environment;  // added to git's, winning over inherited keys
    std::vector<std::string> options;                // "-c" pairs, in this order, before git's command
    std::filesystem::path folder;                    // the run's own place; empty before a preparation
};

class GitCredentialBroking {
  public:
    virtual ~GitCredentialBroking() = default;
    virtual GitCredentialRun prepareEnvironment(const std::string& token, const GitHubWebOrigin& gitHub) = 0;
    virtual bool wasRefused(const GitCredentialRun& run) = 0;
    virtual void cleanup(const GitCredentialRun& run) = 0;
};

}  // namespace pelko
