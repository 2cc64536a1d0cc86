#pragma once
// GitAuthProviding: the stored GitHub token, read from and deleted in the keychain.
//
// Every call goes to the keychain (there is no in-memory copy) and is synchronous; callable from any
// thread. `loadToken` yields nothing when there is no item or it does not decode; its failures are
// never reported. `deleteToken` reports whether the token is gone (false when the keychain kept it,
// such as a locked item it would not delete). `deleteTokenIfCurrent` deletes the stored token only
// while it still holds that access token (a token refreshed or signed in meanwhile stays); the token
// manager checks and deletes under the lock of its writes. Implemented by the token manager.
#include <optional>
#include <string>

#include "github/OAuthTokenRecord.hpp"

namespace pelko {

class GitAuthProviding {
  public:
    virtual ~GitAuthProviding() = default;
    virtual bool hasToken() const = 0;
    virtual std::optional<OAuthTokenRecord> loadToken() const = 0;
    virtual bool deleteToken() = 0;
    // True when it deleted. This default is for stand-ins without writes of their own to race with.
    virtual bool deleteTokenIfCurrent(const std::string& accessToken) {
        auto current = loadToken();
        if (!current || current->accessToken != accessToken) return false;
        return deleteToken();
    }
};

}  // namespace pelko
