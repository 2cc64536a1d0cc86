#pragma once
// GitCredentialBroker: the GitCredentialBroking of the application.
//
// Scripts live in the folder "pelko-git-credentials" of the private runtime folder ($XDG_RUNTIME_DIR,
// else a fresh mkdtemp folder of mode 0700 under the temporary folder), never in the shared /tmp.
// The folder must be a real folder owned by this user (a symbolic link or another owner's folder is
// refused; a plain file in its place is replaced); it is kept at mode 0700. Each script is created
// beneath the opened folder with O_CREAT|O_EXCL|O_NOFOLLOW, mode 0700, and holds no secret: it
// prints PELKO_GITHUB_TOKEN from git's environment, and only for a prompt that names GitHub's scheme,
// host (or a subdomain) and port, as PELKO_GITHUB_SCHEME, PELKO_GITHUB_HOST and PELKO_GITHUB_PORT give
// them. Touches no file before the first preparation. Both operations are serialised by a mutex; each
// preparation makes a script of its own, so runs may overlap, and `cleanup` removes only the script
// of the preparation it is given.
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>

#include "git/GitCredentialBroking.hpp"

namespace pelko {

class GitCredentialBroker final : public GitCredentialBroking {
  public:
    // The exact text of every askpass script.
    static const std::string scriptText;

    // nullopt: "pelko-git-credentials" in the private runtime folder, found on first use.
    explicit GitCredentialBroker(std::optional<std::filesystem::path> tempDirectory = std::nullopt);

    // Throws GitCredentialBrokerError.
    std::map<std::string, std::string> prepareEnvironment(const std::string& token,
                                                          const GitHubWebOrigin& gitHub) override;
    void cleanup(const std::map<std::string, std::string>& prepared) override;

  private:
    std::filesystem::path folder();

    std::mutex mutex_;
    std::optional<std::filesystem::path> tempDirectory_;
    // Scripts prepared and not yet cleaned up.
    std::set<std::string> scripts_;
};

}  // namespace pelko
