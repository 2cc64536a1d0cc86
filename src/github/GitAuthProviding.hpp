#pragma once
// GitAuthProviding: the stored GitHub token, read from and deleted in the keychain.
//
// Every call goes to the keychain (there is no in-memory copy) and is synchronous; callable from any
// thread. `loadToken` yields nothing when there is no item or it does not decode; failures are never
// reported. Implemented by the token manager.
#include <optional>

#include "github/OAuthTokenRecord.hpp"

namespace pelko {

class GitAuthProviding {
  public:
    virtual ~GitAuthProviding() = default;
    virtual bool hasToken() const = 0;
    virtual std::optional<OAuthTokenRecord> loadToken() const = 0;
    virtual void deleteToken() = 0;
};

}  // namespace pelko
