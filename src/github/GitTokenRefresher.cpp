#include "github/GitTokenRefresher.hpp"

#include "platform/ProcessEnd.hpp"

namespace pelko {

std::shared_ptr<GitTokenRefresher> GitTokenRefresher::create(std::shared_ptr<GitAuthManager> authManager,
                                                             std::shared_ptr<GitHubOAuthHTTPClient> client,
                                                             std::shared_ptr<RefreshScheduler> scheduler,
                                                             OAuthTokenRecord::Clock clock) {
    return std::shared_ptr<GitTokenRefresher>(new GitTokenRefresher(std::move(authManager), std::move(client),
                                                                    std::move(scheduler), std::move(clock)));
}

GitTokenRefresher::GitTokenRefresher(std::shared_ptr<GitAuthManager> authManager,
                                     std::shared_ptr<GitHubOAuthHTTPClient> client,
                                     std::shared_ptr<RefreshScheduler> scheduler,
                                     OAuthTokenRecord::Clock clock)
    : authManager_(std::move(authManager)),
      client_(std::move(client)),
      scheduler_(std::move(scheduler)),
      clock_(std::move(clock)) {}

void GitTokenRefresher::setDelegate(std::weak_ptr<GitTokenRefresherDelegate> delegate) {
    std::lock_guard lock(delegateLock_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<GitTokenRefresherDelegate> GitTokenRefresher::delegate() const {
    std::lock_guard lock(delegateLock_);
    return delegate_.lock();
}

void GitTokenRefresher::start() {
    std::lock_guard lock(startLock_);
    if (running_) return;
    running_ = true;
    scheduler_->scheduleRepeating(checkInterval, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->evaluateRefresh();
    });
}

void GitTokenRefresher::stop() {
    std::lock_guard lock(startLock_);
    if (!running_) return;
    scheduler_->cancel();
    running_ = false;
}

void GitTokenRefresher::evaluateRefresh() {
    if (ProcessEnd::hasBegun()) return;
    auto record = authManager_->loadToken();
    if (!record || record->refreshToken.empty()) return;
    {
        std::lock_guard lock(deadLock_);
        // GitHub would refuse it again, and the page already knows the keyring kept it.
        if (record->refreshToken == deadRefreshToken_) return;
        deadRefreshToken_.clear();
    }
    if (record->expiresAt.seconds() - clock_().seconds() > refreshMarginSeconds) return;

    const std::string sentRefreshToken = record->refreshToken;
    std::optional<OAuthTokenRecord> refreshed;
    std::string failure;
    bool applies = false;
    try {
        // GitHub's answer uses up the refresh token sent, so the pair it gives is stored even when the
        // end begins meanwhile; the exchange itself the end cuts off like any other.
        ProcessEnd::Errand errand;
        errand.run([&] {
            refreshed = record->updating(client_->refreshToken(sentRefreshToken), clock_);
            // Signed out or signed in anew meanwhile: this refresh no longer applies.
            applies = running_ && authManager_->replaceToken(sentRefreshToken, *refreshed);
        });
        if (!applies) return;
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (refreshed && failure.empty()) {
        if (auto target = delegate()) target->gitTokenRefresherDidRefresh(*this, *refreshed);
        return;
    }
    // Signed out meanwhile; or the end of the process has begun, and what it cut off (the refresh, the
    // keyring) says nothing about the token.
    if (!running_ || ProcessEnd::hasBegun()) return;
    switch (authManager_->deleteToken(sentRefreshToken)) {
        case GitAuthManager::DeleteOutcome::notCurrent:
            return;
        case GitAuthManager::DeleteOutcome::kept:
            // The end began while the keyring was asked: its cut-off kept the token, not the keyring.
            if (ProcessEnd::hasBegun()) return;
            // Still signed in with a token that did not refresh: the delegate must hear why.
            failure = GitAuthManagerError(GitAuthManagerError::Code::keychainDeleteFailed).what();
            {
                std::lock_guard lock(deadLock_);
                deadRefreshToken_ = sentRefreshToken;
            }
            break;
        case GitAuthManager::DeleteOutcome::deleted:
            break;
    }
    if (auto target = delegate()) target->gitTokenRefresherDidFail(*this, failure);
}

}  // namespace pelko
