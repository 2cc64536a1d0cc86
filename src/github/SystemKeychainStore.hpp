#pragma once
// SystemKeychainStore: KeychainStore over the Secret Service (libsecret) on the session bus.
//
// Items carry the attributes "service" and "account" and are matched on those alone. Lookups search
// without unlocking, so a locked keyring yields no item rather than a prompt. Saves go to the default
// collection only when it exists and is unlocked. Holds no state; safe from any thread (each call
// runs libsecret's synchronous API on the calling thread).
#include "github/KeychainStore.hpp"

namespace pelko {

class SystemKeychainStore final : public KeychainStore {
  public:
    std::optional<std::string> load(const std::string& service, const std::string& account) const override;
    bool save(const std::string& data, const std::string& service, const std::string& account) override;
    void remove(const std::string& service, const std::string& account) override;
};

}  // namespace pelko
