#pragma once
// SignInMessages: the page's GitHub sign-in requests ("github/oauth/*") and the sign-in status the
// bridge sends, over GitAuthProviding (the stored token), GitHubOAuthCoordinating, GitTokenRefreshing
// and SecurityEventLogging. Main thread; the keyring is read and written on the bridge's keyring queue
// (BridgeContext::onKeyringQueue), and what follows from it (security log lines, the refresher, the
// events) runs on the main queue, the events in the place of the request that asked for them. The
// coordinator's and refresher's reports, which arrive on any thread and are handled on a later turn of
// the main queue, are defined beside it.
#include <optional>
#include <string>

#include "bridge/ProjectFileOperations.hpp"
#include "github/OAuthTokenRecord.hpp"
#include "github/SecurityEventLogging.hpp"
#include "platform/Date.hpp"
#include "platform/Json.hpp"

namespace pelko {

class BridgeContext;

struct SignInMessages {
    static void handle(BridgeContext& context, const std::string& type, const Json* payload);
    // "github/oauth/status" for the token, or "disconnected" without one.
    static BridgeEvent statusEvent(const std::optional<OAuthTokenRecord>& record, bool refreshed,
                                   const std::optional<std::string>& reason);
    // The status of the stored token, read on the keyring queue.
    static void dispatchStoredStatus(BridgeContext& context);
    static void logSecurityEvent(const BridgeContext& context, SecurityEventAction action,
                                 const std::optional<std::string>& login,
                                 const std::optional<SecurityEventLogging::Metadata>& metadata);
    // A token without expiry: the distant future, or any date after the year 2099.
    static bool isNonExpiring(const Date& date);
};

}  // namespace pelko
