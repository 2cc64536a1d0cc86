#pragma once
// GitHubOAuthCoordinator: GitHub sign-in with the authorisation-code flow and PKCE (S256).
//
// `startAuthorization` runs on the main thread: it closes the previous attempt's window (whose
// completion is then ignored), makes a new state and verifier, and opens the authorisation address in
// a session from the factory. The callback is checked and the code exchanged on the coordinator's own
// serial queue, never on the main thread (the exchange and the user lookup can block for minutes);
// the pending state is guarded by a lock. Every attempt that reaches a callback or fails ends in
// exactly one delegate call (held weakly), made on that queue, or on the main thread for a window
// that was closed or failed to load. The token is stored before `didComplete`; tokens never appear in
// an error text.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "github/GitAuthManager.hpp"
#include "github/GitHubEndpoints.hpp"
#include "github/GitHubOAuthCoordinating.hpp"
#include "github/GitHubOAuthCoordinatorError.hpp"
#include "github/GitHubOAuthHTTPClient.hpp"
#include "github/GitTokenRefresher.hpp"
#include "github/OAuthSession.hpp"
#include "platform/SerialQueue.hpp"

namespace pelko {

class GitHubOAuthCoordinator final : public GitHubOAuthCoordinating,
                                     public std::enable_shared_from_this<GitHubOAuthCoordinator> {
  public:
    struct Configuration {
        std::string clientID;
        std::string redirectURI;
        std::vector<std::string> scopes;
    };

    static std::shared_ptr<GitHubOAuthCoordinator> create(
        Configuration configuration, GitHubEndpoints endpoints, std::shared_ptr<GitAuthManager> authManager,
        std::shared_ptr<GitHubOAuthHTTPClient> httpClient, std::shared_ptr<GitTokenRefresher> tokenRefresher,
        std::shared_ptr<OAuthSessionFactory> sessionFactory, OAuthTokenRecord::Clock clock = Date::now);

    void setDelegate(std::weak_ptr<GitHubOAuthCoordinatorDelegate> delegate) override;
    void startAuthorization(Initiator initiator) override;
    // Checks the redirect, exchanges the code, stores the record and reports it; throws (after
    // reporting) on failure. Runs on the calling thread.
    OAuthTokenRecord handleCallback(const std::string& url);

    // 32 secure random bytes in base64url without padding (43 characters).
    static std::string randomCodeVerifier();
    // base64url(SHA-256(verifier)) without padding.
    static std::string codeChallengeS256(const std::string& verifier);
    // Empty scopes and repeats dropped (first occurrence kept), "offline_access" appended if missing.
    static std::vector<std::string> normalizeScopes(const std::vector<std::string>& scopes);

  private:
    GitHubOAuthCoordinator(Configuration configuration, GitHubEndpoints endpoints,
                           std::shared_ptr<GitAuthManager> authManager,
                           std::shared_ptr<GitHubOAuthHTTPClient> httpClient,
                           std::shared_ptr<GitTokenRefresher> tokenRefresher,
                           std::shared_ptr<OAuthSessionFactory> sessionFactory,
                           OAuthTokenRecord::Clock clock);

    void sessionDidEnd(std::uint64_t attempt, const OAuthSessionOutcome& outcome);
    void reportFailure(const std::string& description);
    // Reports the refused callback, then throws it.
    [[noreturn]] void fail(GitHubOAuthCoordinatorError::Code code);
    std::shared_ptr<GitHubOAuthCoordinatorDelegate> delegate() const;

    Configuration configuration_;
    GitHubEndpoints endpoints_;
    std::shared_ptr<GitAuthManager> authManager_;
    std::shared_ptr<GitHubOAuthHTTPClient> httpClient_;
    std::shared_ptr<GitTokenRefresher> tokenRefresher_;
    std::shared_ptr<OAuthSessionFactory> sessionFactory_;
    OAuthTokenRecord::Clock clock_;
    std::shared_ptr<SerialQueue> callbackQueue_;

    // Main thread only.
    std::shared_ptr<OAuthSession> currentSession_;
    std::uint64_t attempt_ = 0;

    mutable std::mutex lock_;
    std::optional<std::string> pendingState_;
    std::optional<std::string> pendingCodeVerifier_;
    std::weak_ptr<GitHubOAuthCoordinatorDelegate> delegate_;
};

}  // namespace pelko
