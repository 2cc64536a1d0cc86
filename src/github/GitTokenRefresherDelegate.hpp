#pragma once
// GitTokenRefresherDelegate: how the token refresher reports a refresh.
//
// Called on the refresher's timer queue: after the refreshed token was stored, or after a failed
// refresh tried to delete the stored token: with the error's description when it was deleted, with
// "keychainDeleteFailed" when the keyring kept it (still signed in; once for that refresh token,
// which is not tried again). A refresh overtaken by a sign-out or a new sign-in is dropped and not
// reported. Held weakly.
#include <string>

#include "github/OAuthTokenRecord.hpp"

namespace pelko {

class GitTokenRefreshing;

class GitTokenRefresherDelegate {
  public:
    virtual ~GitTokenRefresherDelegate() = default;
    virtual void gitTokenRefresherDidRefresh(GitTokenRefreshing& refresher,
                                             const OAuthTokenRecord& record) = 0;
    virtual void gitTokenRefresherDidFail(GitTokenRefreshing& refresher,
                                          const std::string& errorDescription) = 0;
};

}  // namespace pelko
