#include "bridge/SignInMessages.hpp"

#include <time.h>

#include "bridge/BridgeContext.hpp"
#include "bridge/GitOAuthErrorPayload.hpp"
#include "bridge/WebBridge.hpp"
#include "github/GitAuthManager.hpp"
#include "github/GitOAuthStatusPayload.hpp"

namespace pelko {

namespace {

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string result;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) result += separator;
        result += parts[i];
    }
    return result;
}

// The description of a delete the keyring refused, as the token manager and the refresher report it.
std::string keychainDeleteFailure() {
    return GitAuthManagerError(GitAuthManagerError::Code::keychainDeleteFailed).what();
}

BridgeEvent errorEvent(const std::string& description) {
    return BridgeEvent{"github/oauth/error", GitOAuthErrorPayload{description, true}.toJson()};
}

std::optional<std::string> loginOf(const std::optional<OAuthTokenRecord>& record) {
    return record ? record->accountLogin : std::nullopt;
}

void send(BridgeContext& context, const std::vector<BridgeEvent>& events) {
    for (const auto& event : events) context.dispatchEvent(event.type, event.payload);
}

// Reads the stored token on the keyring queue and hands it to `finish` on the main queue; without a
// token store there is nothing to read, and `finish` runs at once.
void withStoredToken(
    BridgeContext& context,
    std::function<std::vector<BridgeEvent>(BridgeContext&, const std::optional<OAuthTokenRecord>&)> finish) {
    if (!context.authManager) {
        send(context, finish(context, std::nullopt));
        return;
    }
    context.onKeyringQueue([auth = context.authManager, finish = std::move(finish)] {
        auto record = auth->loadToken();
        return BridgeContext::KeyringFinish(
            [record, finish](BridgeContext& self) { return finish(self, record); });
    });
}

// Deletes the stored token on the keyring queue. A token the keyring kept (a locked item) is still
// signed in: the page is told the status it had and an error, never "disconnected".
std::vector<BridgeEvent> finishLogout(BridgeContext& self, const std::optional<OAuthTokenRecord>& before,
                                      bool deleted, const std::optional<OAuthTokenRecord>& after) {
    if (!deleted) {
        std::string failure = keychainDeleteFailure();
        SignInMessages::logSecurityEvent(self, SecurityEventAction::oauthLogout, loginOf(before),
                                         SecurityEventLogging::Metadata{{"error", failure}});
        std::vector<BridgeEvent> events;
        if (after) events.push_back(SignInMessages::statusEvent(after, false, std::nullopt));
        events.push_back(errorEvent(failure));
        return events;
    }
    if (self.tokenRefresher) self.tokenRefresher->stop();
    SignInMessages::logSecurityEvent(self, SecurityEventAction::oauthLogout, loginOf(before), std::nullopt);
    return {SignInMessages::statusEvent(after, false, "userLogout")};
}

void logout(BridgeContext& context) {
    if (!context.authManager) {
        send(context, finishLogout(context, std::nullopt, true, std::nullopt));
        return;
    }
    // Asked for before the end began, the sign-out is done even if the end begins meanwhile: left
    // undone, the next start would be signed in again.
    context.onKeyringQueue(
        [auth = context.authManager] {
            auto before = auth->loadToken();
            bool deleted = auth->deleteToken();
            auto after = auth->loadToken();
            return BridgeContext::KeyringFinish([before, deleted, after](BridgeContext& self) {
                return finishLogout(self, before, deleted, after);
            });
        },
        BridgeContext::AtTheEnd::kept);
}

}  // namespace

void SignInMessages::logSecurityEvent(const BridgeContext& context, SecurityEventAction action,
                                      const std::optional<std::string>& login,
                                      const std::optional<SecurityEventLogging::Metadata>& metadata) {
    if (context.securityLogger) context.securityLogger->log(action, login, metadata);
}

bool SignInMessages::isNonExpiring(const Date& date) {
    if (date == Date::distantFuture()) return true;
    time_t seconds = static_cast<time_t>(date.seconds());
    struct tm local {};
    if (!localtime_r(&seconds, &local)) return false;
    return local.tm_year + 1900 > 2099;
}

BridgeEvent SignInMessages::statusEvent(const std::optional<OAuthTokenRecord>& record, bool refreshed,
                                        const std::optional<std::string>& reason) {
    GitOAuthStatusPayload payload;
    if (record) {
        payload.status = "connected";
        if (record->accountLogin)
            payload.account = GitOAuthAccountPayload{*record->accountLogin, record->accountAvatarURL};
        if (!isNonExpiring(record->expiresAt)) payload.expiresAt = record->expiresAt.isoMilliseconds();
        if (refreshed) payload.refreshed = true;
    } else {
        payload.status = "disconnected";
    }
    payload.reason = reason;
    return BridgeEvent{"github/oauth/status", payload.toJson()};
}

void SignInMessages::dispatchStoredStatus(BridgeContext& context) {
    withStoredToken(context, [](BridgeContext&, const std::optional<OAuthTokenRecord>& record) {
        return std::vector<BridgeEvent>{statusEvent(record, false, std::nullopt)};
    });
}

void SignInMessages::handle(BridgeContext& context, const std::string& type, const Json*) {
    if (type == "github/oauth/start") {
        // The log line needs the stored account; the coordinator does not wait for it.
        if (context.securityLogger) {
            withStoredToken(context, [](BridgeContext& self, const std::optional<OAuthTokenRecord>& record) {
                logSecurityEvent(self, SecurityEventAction::oauthStart, loginOf(record),
                                 SecurityEventLogging::Metadata{{"initiator", "user"}});
                return std::vector<BridgeEvent>{};
            });
        }
        // Always a later turn of the main queue, so the page's message handling has finished first.
        context.runOnMainLater([](BridgeContext& self) {
            if (self.oauthCoordinator) {
                self.oauthCoordinator->startAuthorization(GitHubOAuthCoordinating::Initiator::user);
            }
        });
    } else if (type == "github/oauth/logout") {
        logout(context);
    } else if (type == "github/oauth/requestStatus") {
        dispatchStoredStatus(context);
    }
}

// ---------------------------------------------------------------------------------------------------
// Reports of the sign-in coordinator and the token refresher (any thread)

void WebBridge::gitHubOAuthCoordinatorDidComplete(GitHubOAuthCoordinating&, const OAuthTokenRecord& record) {
    context_->runOnMainLater([handed = record](BridgeContext& context) {
        withStoredToken(
            context, [handed](BridgeContext& self, const std::optional<OAuthTokenRecord>& stored) {
                SignInMessages::logSecurityEvent(
                    self, SecurityEventAction::oauthSuccess, handed.accountLogin,
                    SecurityEventLogging::Metadata{{"expiresAt", handed.expiresAt.isoMilliseconds()},
                                                   {"scopes", joined(handed.scope, " ")}});
                return std::vector<BridgeEvent>{SignInMessages::statusEvent(stored, false, std::nullopt)};
            });
    });
}

void WebBridge::gitHubOAuthCoordinatorDidFail(GitHubOAuthCoordinating&, const std::string& errorDescription) {
    context_->runOnMainLater([errorDescription](BridgeContext& context) {
        withStoredToken(
            context, [errorDescription](BridgeContext& self, const std::optional<OAuthTokenRecord>& stored) {
                SignInMessages::logSecurityEvent(self, SecurityEventAction::oauthFailure, loginOf(stored),
                                                 SecurityEventLogging::Metadata{{"error", errorDescription}});
                return std::vector<BridgeEvent>{errorEvent(errorDescription)};
            });
    });
}

void WebBridge::gitTokenRefresherDidRefresh(GitTokenRefreshing&, const OAuthTokenRecord& record) {
    context_->runOnMainLater([handed = record](BridgeContext& context) {
        withStoredToken(
            context, [handed](BridgeContext& self, const std::optional<OAuthTokenRecord>& stored) {
                SignInMessages::logSecurityEvent(
                    self, SecurityEventAction::oauthRefreshSuccess, handed.accountLogin,
                    SecurityEventLogging::Metadata{{"expiresAt", handed.expiresAt.isoMilliseconds()}});
                return std::vector<BridgeEvent>{SignInMessages::statusEvent(stored, true, std::nullopt)};
            });
    });
}

void WebBridge::gitTokenRefresherDidFail(GitTokenRefreshing&, const std::string& errorDescription) {
    context_->runOnMainLater([errorDescription](BridgeContext& context) {
        withStoredToken(context, [errorDescription](BridgeContext& self,
                                                    const std::optional<OAuthTokenRecord>& stored) {
            SignInMessages::logSecurityEvent(self, SecurityEventAction::oauthRefreshFailure, loginOf(stored),
                                             SecurityEventLogging::Metadata{{"error", errorDescription}});
            // A token the keyring kept is still signed in, even when it cannot be read (a locked item):
            // never "disconnected" for it.
            std::vector<BridgeEvent> events;
            if (stored || errorDescription != keychainDeleteFailure())
                events.push_back(SignInMessages::statusEvent(stored, false, "refreshFailed"));
            events.push_back(errorEvent(errorDescription));
            return events;
        });
    });
}

void WebBridge::gitServiceDidUpdateOAuthStatus(const GitOAuthStatusPayload& payload) {
    if (payload.status == "disconnected" && payload.reason == "tokenInvalid") {
        SignInMessages::logSecurityEvent(
            *context_, SecurityEventAction::oauthTokenInvalid,
            payload.account ? std::optional<std::string>(payload.account->login) : std::nullopt,
            SecurityEventLogging::Metadata{{"reason", *payload.reason}});
    }
    dispatchEvent("github/oauth/status", payload.toJson());
}

}  // namespace pelko
