#pragma once
// SecurityEventLogging: the security event log of GitHub sign-in events (one JSON line per event).
//
// `log` returns at once from any thread; the implementation writes on its own queue, in call order.
// Callers never pass tokens or secrets: only the account login and short metadata texts.
#include <map>
#include <optional>
#include <string>

namespace pelko {

enum class SecurityEventAction {
    oauthStart,
    oauthSuccess,
    oauthFailure,
    oauthLogout,
    oauthRefreshSuccess,
    oauthRefreshFailure,
    oauthTokenInvalid,
};

class SecurityEventLogging {
  public:
    using Metadata = std::map<std::string, std::string>;

    virtual ~SecurityEventLogging() = default;
    virtual void log(SecurityEventAction action, const std::optional<std::string>& login,
                     const std::optional<Metadata>& metadata) = 0;
};

}  // namespace pelko
