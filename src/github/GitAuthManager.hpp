#pragma once
// GitAuthManager: the stored GitHub sign-in, one keyring item (service "app.pelko.github.oauth",
// account "default") holding the JSON of an OAuthTokenRecord.
//
// There is no in-memory copy: every read goes to the keyring. Callable from any thread. Reads never
// report: a missing, locked or undecodable item is no token, and an undecodable item stays in place.
// Deletions report whether the item is gone; the conditional one also whether it was the expected one.
// Writes (save, replace, delete) are serialised by one lock so that a conditional replace cannot
// interleave with a deletion made through this manager.
#include <memory>
#include <mutex>
#include <stdexcept>

#include "github/GitAuthProviding.hpp"
#include "github/KeychainStore.hpp"

namespace pelko {

// The keyring did not take the record (no keyring running, a locked or missing collection), or kept
// the one it should have deleted (a locked item).
class GitAuthManagerError : public std::runtime_error {
  public:
    enum class Code { keychainSaveFailed, keychainDeleteFailed };
    explicit GitAuthManagerError(Code code);
    Code code() const { return code_; }

  private:
    Code code_;
};

class GitAuthManager final : public GitAuthProviding {
  public:
    static constexpr const char* service = "app.pelko.github.oauth";
    static constexpr const char* account = "default";

    explicit GitAuthManager(std::shared_ptr<KeychainStore> keychain);

    bool hasToken() const override;
    std::optional<OAuthTokenRecord> loadToken() const override;
    bool deleteToken() override;
    bool deleteTokenIfCurrent(const std::string& accessToken) override;

    // Throws EncodeError or GitAuthManagerError.
    void saveToken(const OAuthTokenRecord& record);
    // Stores `record` only while the stored record still holds `expectedRefreshToken`; false when it
    // does not (signed out, or replaced meanwhile). Throws as saveToken.
    bool replaceToken(const std::string& expectedRefreshToken, const OAuthTokenRecord& record);
    // What a conditional delete did: the record was no longer the expected one (signed out or replaced
    // meanwhile, or unreadable), or it was and the keyring kept it.
    enum class DeleteOutcome { deleted, notCurrent, kept };
    // Deletes the stored record only while it still holds `expectedRefreshToken`.
    DeleteOutcome deleteToken(const std::string& expectedRefreshToken);

  private:
    void store(const OAuthTokenRecord& record);
    // Whether a record is stored and its `field` is `value`; callers hold the write lock.
    bool holds(std::string OAuthTokenRecord::*field, const std::string& value) const;

    std::shared_ptr<KeychainStore> keychain_;
    mutable std::mutex writeLock_;
};

}  // namespace pelko
