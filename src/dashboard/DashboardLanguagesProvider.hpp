#pragma once
// DashboardLanguagesProvider: GitHub's language statistics for a project's "origin" repository.
//
// Callable from any thread at once. The remote is read with `git` once per project and kept for the
// life of the process (failures are not kept, so they are retried); the lock guarding that cache is
// never held while `git` runs. The token is read from the token manager at each request and sent only
// to the API base of GitHubEndpoints, in a path whose owner and repository cannot climb out of
// "/repos/" ("." and ".." are refused, everything but unreserved characters is percent-encoded).
// The remote is read by GitRemoteURL::parseGitHubRemoteURL, as the Git service reads it, against the
// host of GitHub's pages (not of its API): a remote on another host never leads to a request. Tokens
// and response bodies of successful requests never reach the log; of an error body, only its first
// `loggedBodyLimit` bytes do.
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "dashboard/DashboardLanguagesProviding.hpp"
#include "git/GitProcessRunning.hpp"
#include "git/GitRemoteURL.hpp"
#include "github/GitAuthProviding.hpp"
#include "github/GitHubEndpoints.hpp"
#include "platform/SystemLogger.hpp"

namespace pelko {

class DashboardLanguagesProvider final : public DashboardLanguagesProviding {
  public:
    // Described by its case name: "httpError(code: 500)", "unableToResolveRemote", ...
    class ProviderError : public std::runtime_error {
      public:
        enum class Code { httpError, unableToResolveRemote, invalidResponse, unauthorized };
        explicit ProviderError(Code code, long httpStatus = 0);
        Code code() const { return code_; }
        long httpStatus() const { return httpStatus_; }

      private:
        Code code_;
        long httpStatus_;
    };

    // The most of an error body that reaches the log.
    static constexpr std::size_t loggedBodyLimit = 512;

    DashboardLanguagesProvider(std::shared_ptr<GitAuthProviding> authProvider,
                               std::shared_ptr<GitProcessRunning> processRunner, GitHubEndpoints endpoints,
                               SystemLogger logger = SystemLogger("app.pelko.dashboard", "languages"));

    // Throws ProviderError, HttpTransportError or a JSON parse error.
    LanguageByteCounts fetchLanguages(const ProjectMetadata& project) override;

    // The REST address of a repository's languages under `apiBase`.
    static std::string makeLanguagesURL(const std::string& apiBase, const RepositoryCoordinates& coordinates);
    // A JSON object of numbers; other members are skipped, counts are clamped into [0, INT64_MAX].
    // Throws ProviderError(invalidResponse) for another top level, the parser's error for bad JSON.
    static LanguageByteCounts decodeLanguagesResponse(const std::string& body);

  private:
    std::optional<RepositoryCoordinates> resolveRemote(const ProjectMetadata& project);
    std::optional<std::string> readRemoteURL(const ProjectMetadata& project);

    std::shared_ptr<GitAuthProviding> authProvider_;
    std::shared_ptr<GitProcessRunning> processRunner_;
    GitHubEndpoints endpoints_;
    std::string webHost_;
    SystemLogger logger_;
    std::unordered_map<Uuid, RepositoryCoordinates> remoteCache_;
    std::mutex remoteCacheLock_;
};

}  // namespace pelko
