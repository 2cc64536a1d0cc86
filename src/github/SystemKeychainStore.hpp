#pragma once
// SystemKeychainStore: KeychainStore over the Secret Service (libsecret) on the session bus.
//
// Items carry the attributes "service" and "account" and are matched on those alone. Lookups search
// without unlocking, so a locked keyring yields no item rather than a prompt. Saves go to the default
// collection only when it exists and is unlocked. Removal deletes every matching item, locked ones
// included, and fails when any of them stays. Holds no state; safe from any thread (each call runs
// libsecret's synchronous API on the calling thread). Every call ends within `timeout`: a Secret
// Service that takes the call and never answers is given up on then (a failure, or no item), instead
// of holding the caller for D-Bus's own 25 seconds. Once the end of the process has begun (ProcessEnd),
// a call still waiting is given up at once and no call reaches the Secret Service any more: a load
// finds no item, a save or a removal fails. Calls an errand makes (ProcessEnd::Errand::run) are the
// exception: they go on, and are made, until the errands' grace has passed.
#include <chrono>

#include "github/KeychainStore.hpp"

namespace pelko {

class SystemKeychainStore final : public KeychainStore {
  public:
    static constexpr std::chrono::milliseconds defaultTimeout{5000};

    explicit SystemKeychainStore(std::chrono::milliseconds timeout = defaultTimeout);

    std::optional<std::string> load(const std::string& service, const std::string& account) const override;
    bool save(const std::string& data, const std::string& service, const std::string& account) override;
    bool remove(const std::string& service, const std::string& account) override;

  private:
    std::chrono::milliseconds timeout_;
};

}  // namespace pelko
