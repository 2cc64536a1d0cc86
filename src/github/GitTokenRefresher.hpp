#pragma once
// GitTokenRefresher: keeps an expiring GitHub token alive. While running, a check every 60 seconds
// (the first one 60 seconds after `start`) refreshes the stored token when it expires within 300
// seconds and has a refresh token.
//
// Checks run on the scheduler's queue, one at a time, and block it for the refresh request. A
// refreshed record is stored only while the refresher still runs and the stored record still holds
// the refresh token that was sent, so a sign-out (or a rejected token deleted by Git) during the
// request stays signed out; a failed refresh deletes the stored token under the same condition. The
// delegate (held weakly) hears, on the scheduler's queue, only about refreshes that took effect and
// failures whose token was deleted or kept by the keyring, never about those overtaken. A refresh
// token GitHub did not refresh and the keyring kept is remembered (in memory only, one at a time):
// it is not sent again and its failure is reported once; a record stored since with another refresh
// token is checked afresh. Once the end of the process has begun (ProcessEnd), no check starts, and a
// refresh that fails then deletes nothing, remembers nothing and reports nothing: the end cut it off.
// A new pair GitHub has already sent is still stored then, as an errand the end waits for.
// `start` and `stop` are callable from any thread.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "github/GitAuthManager.hpp"
#include "github/GitHubOAuthHTTPClient.hpp"
#include "github/GitTokenRefreshing.hpp"
#include "github/RefreshScheduler.hpp"

namespace pelko {

class GitTokenRefresher final : public GitTokenRefreshing,
                                public std::enable_shared_from_this<GitTokenRefresher> {
  public:
    static constexpr std::chrono::seconds checkInterval{60};
    static constexpr std::int64_t refreshMarginSeconds = 300;

    static std::shared_ptr<GitTokenRefresher> create(std::shared_ptr<GitAuthManager> authManager,
                                                     std::shared_ptr<GitHubOAuthHTTPClient> client,
                                                     std::shared_ptr<RefreshScheduler> scheduler,
                                                     OAuthTokenRecord::Clock clock = Date::now);

    void setDelegate(std::weak_ptr<GitTokenRefresherDelegate> delegate) override;
    void start();
    void stop() override;
    bool isRunning() const { return running_; }
    // One check, on the calling thread.
    void evaluateRefresh();

  private:
    GitTokenRefresher(std::shared_ptr<GitAuthManager> authManager,
                      std::shared_ptr<GitHubOAuthHTTPClient> client,
                      std::shared_ptr<RefreshScheduler> scheduler, OAuthTokenRecord::Clock clock);
    std::shared_ptr<GitTokenRefresherDelegate> delegate() const;

    std::shared_ptr<GitAuthManager> authManager_;
    std::shared_ptr<GitHubOAuthHTTPClient> client_;
    std::shared_ptr<RefreshScheduler> scheduler_;
    OAuthTokenRecord::Clock clock_;
    std::atomic<bool> running_{false};
    std::mutex startLock_;
    mutable std::mutex delegateLock_;
    std::weak_ptr<GitTokenRefresherDelegate> delegate_;
    std::mutex deadLock_;
    // The refresh token of the last failed refresh whose record the keyring kept; empty when none.
    std::string deadRefreshToken_;
};

}  // namespace pelko
