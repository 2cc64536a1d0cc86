#pragma once
// KeychainStore: one secret item addressed by service and account in the user's keyring.
//
// Calls are synchronous and may be made from any thread. None of them ever waits for the user: a
// locked collection reads as no item, and a save into a locked or missing collection fails instead of
// asking to unlock or create it. `save` replaces the item's data when it exists and reports whether
// the data is now stored; `remove` reports whether no item is left (a missing item is success, a
// locked one that could not be deleted is a failure).
#include <optional>
#include <string>

namespace pelko {

class KeychainStore {
  public:
    virtual ~KeychainStore() = default;
    virtual std::optional<std::string> load(const std::string& service, const std::string& account) const = 0;
    [[nodiscard]] virtual bool save(const std::string& data, const std::string& service,
                                    const std::string& account) = 0;
    [[nodiscard]] virtual bool remove(const std::string& service, const std::string& account) = 0;
};

}  // namespace pelko
