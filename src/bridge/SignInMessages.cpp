#include "bridge/SignInMessages.hpp"

#include <time.h>

#include "bridge/BridgeContext.hpp"
#include "bridge/GitOAuthErrorPayload.hpp"
#include "bridge/WebBridge.hpp"
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

}  // namespace

std::optional<OAuthTokenRecord> SignInMessages::loadStoredToken(const BridgeContext& context) {
    if (!context.authManager) return std::nullopt;
    return context.authManager->loadToken();
}

void SignInMessages::logSecurityEvent(const BridgeContext& context, SecurityEventAction action,
                                      const std::optional<std::string>& login,
                                      const std::optional<SecurityEventLogging::Metadata>& metadata) {
    if (context.securityLogger) context.securityLogger->log(action, login, metadata);
}

void SignInMessages::logSecurityEventForStoredAccount(const BridgeContext& context,
                                                      SecurityEventAction action,
                                                      const SecurityEventLogging::Metadata& metadata) {
    if (!context.securityLogger) return;
    auto token = loadStoredToken(context);
    context.securityLogger->log(action, token ? token->accountLogin : std::nullopt, metadata);
}

bool SignInMessages::isNonExpiring(const Date& date) {
    if (date == Date::distantFuture()) return true;
    time_t seconds = static_cast<time_t>(date.seconds());
    struct tm local {};
    if (!localtime_r(&seconds, &local)) return false;
    return local.tm_year + 1900 > 2099;
}

void SignInMessages::dispatchStatus(BridgeContext& context, const std::optional<OAuthTokenRecord>& record,
                                    bool refreshed, const std::optional<std::string>& reason) {
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
    context.dispatchEvent("github/oauth/status", payload.toJson());
}

void SignInMessages::dispatchStoredStatus(BridgeContext& context) {
    dispatchStatus(context, loadStoredToken(context), false, std::nullopt);
}

void SignInMessages::handle(BridgeContext& context, const std::string& type, const Json*) {
    if (type == "github/oauth/start") {
        logSecurityEventForStoredAccount(context, SecurityEventAction::oauthStart,
                                         SecurityEventLogging::Metadata{{"initiator", "user"}});
        // Always a later turn of the main queue, so the page's message handling has finished first.
        context.runOnMainLater([](BridgeContext& self) {
            if (self.oauthCoordinator) {
                self.oauthCoordinator->startAuthorization(GitHubOAuthCoordinating::Initiator::user);
            }
        });
    } else if (type == "github/oauth/logout") {
        std::optional<std::string> login;
        if (context.authManager) {
            if (auto token = context.authManager->loadToken()) login = token->accountLogin;
            context.authManager->deleteToken();
        }
        if (context.tokenRefresher) context.tokenRefresher->stop();
        logSecurityEvent(context, SecurityEventAction::oauthLogout, login, std::nullopt);
        dispatchStatus(context, loadStoredToken(context), false, "userLogout");
    } else if (type == "github/oauth/requestStatus") {
        dispatchStoredStatus(context);
    }
}

// ---------------------------------------------------------------------------------------------------
// Reports of the sign-in coordinator and the token refresher (any thread)

void WebBridge::gitHubOAuthCoordinatorDidComplete(GitHubOAuthCoordinating&, const OAuthTokenRecord& record) {
    context_->runOnMainLater([record](BridgeContext& context) {
        SignInMessages::logSecurityEvent(
            context, SecurityEventAction::oauthSuccess, record.accountLogin,
            SecurityEventLogging::Metadata{{"expiresAt", record.expiresAt.isoMilliseconds()},
                                           {"scopes", joined(record.scope, " ")}});
        SignInMessages::dispatchStoredStatus(context);
    });
}

void WebBridge::gitHubOAuthCoordinatorDidFail(GitHubOAuthCoordinating&, const std::string& errorDescription) {
    context_->runOnMainLater([errorDescription](BridgeContext& context) {
        SignInMessages::logSecurityEventForStoredAccount(
            context, SecurityEventAction::oauthFailure,
            SecurityEventLogging::Metadata{{"error", errorDescription}});
        context.dispatchEvent("github/oauth/error", GitOAuthErrorPayload{errorDescription, true}.toJson());
    });
}

void WebBridge::gitTokenRefresherDidRefresh(GitTokenRefreshing&, const OAuthTokenRecord& record) {
    context_->runOnMainLater([record](BridgeContext& context) {
        SignInMessages::logSecurityEvent(
            context, SecurityEventAction::oauthRefreshSuccess, record.accountLogin,
            SecurityEventLogging::Metadata{{"expiresAt", record.expiresAt.isoMilliseconds()}});
        SignInMessages::dispatchStatus(context, SignInMessages::loadStoredToken(context), true, std::nullopt);
    });
}

void WebBridge::gitTokenRefresherDidFail(GitTokenRefreshing&, const std::string& errorDescription) {
    context_->runOnMainLater([errorDescription](BridgeContext& context) {
        SignInMessages::logSecurityEventForStoredAccount(
            context, SecurityEventAction::oauthRefreshFailure,
            SecurityEventLogging::Metadata{{"error", errorDescription}});
        SignInMessages::dispatchStatus(context, SignInMessages::loadStoredToken(context), false,
                                       "refreshFailed");
        context.dispatchEvent("github/oauth/error", GitOAuthErrorPayload{errorDescription, true}.toJson());
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
