#pragma once
// GitCredentialBroker: the GitCredentialBroking of the application.
//
// Each run gets a folder "pelko-run-<UUID>" of mode 0700 inside the folder "pelko-git-credentials" of
// the private runtime folder ($XDG_RUNTIME_DIR, else a fresh mkdtemp folder of mode 0700 under the
// temporary folder), never in the shared /tmp nor anywhere the page or a repository names. The
// credentials folder must be a real folder owned by this user (a symbolic link or another owner's
// folder is refused; a plain file in its place is replaced); it is kept at mode 0700. The run's folder
// is made beneath the opened credentials folder, and its one script, "credential-helper", with
// O_CREAT|O_EXCL|O_NOFOLLOW, mode 0700. The script holds no secret: it is git's credential helper and
// its askpass program at once (`scriptText` says how it answers), reads the token from git's
// environment and writes nothing but the empty note "refused" beside itself. Touches no file before
// the first preparation. Preparations and clean-ups are serialised by a mutex; each run's folder is
// its own, so runs may overlap, and `wasRefused` and `cleanup` look only at the folder of a
// preparation of this broker's that is not cleaned up yet.
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>

#include "git/GitCredentialBroking.hpp"

namespace pelko {

class GitCredentialBroker final : public GitCredentialBroking {
  public:
    // The exact text of every run's script.
    static const std::string scriptText;

    // nullopt: "pelko-git-credentials" in the private runtime folder, found on first use.
    explicit GitCredentialBroker(std::optional<std::filesystem::path> tempDirectory = std::nullopt);

    // Throws GitCredentialBrokerError.
    GitCredentialRun prepareEnvironment(const std::string& token, const GitHubWebOrigin& gitHub) override;
    bool wasRefused(const GitCredentialRun& run) override;
    void cleanup(const GitCredentialRun& run) override;

  private:
    std::filesystem::path folder();
    bool isOpen(const GitCredentialRun& run);

    std::mutex mutex_;
    std::optional<std::filesystem::path> tempDirectory_;
    // Run folders prepared and not yet cleaned up.
    std::set<std::filesystem::path> runs_;
};

}  // namespace pelko
