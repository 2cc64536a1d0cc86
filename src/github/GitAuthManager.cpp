#include "github/GitAuthManager.hpp"

namespace pelko {

GitAuthManagerError::GitAuthManagerError(Code code)
    : std::runtime_error(code == Code::keychainSaveFailed ? "keychainSaveFailed" : "keychainDeleteFailed"),
      code_(code) {}

GitAuthManager::GitAuthManager(std::shared_ptr<KeychainStore> keychain) : keychain_(std::move(keychain)) {}

bool GitAuthManager::hasToken() const {
    return loadToken().has_value();
}

std::optional<OAuthTokenRecord> GitAuthManager::loadToken() const {
    auto data = keychain_->load(service, account);
    if (!data) return std::nullopt;
    auto value = json::parse(*data);
    if (!value) return std::nullopt;
    try {
        return OAuthTokenRecord::fromJson(*value);
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

bool GitAuthManager::deleteToken() {
    std::lock_guard lock(writeLock_);
    return keychain_->remove(service, account);
}

bool GitAuthManager::deleteTokenIfCurrent(const std::string& accessToken) {
    std::lock_guard lock(writeLock_);
    if (!holds(&OAuthTokenRecord::accessToken, accessToken)) return false;
    return keychain_->remove(service, account);
}

void GitAuthManager::saveToken(const OAuthTokenRecord& record) {
    std::lock_guard lock(writeLock_);
    store(record);
}

bool GitAuthManager::replaceToken(const std::string& expectedRefreshToken, const OAuthTokenRecord& record) {
    std::lock_guard lock(writeLock_);
    if (!holds(&OAuthTokenRecord::refreshToken, expectedRefreshToken)) return false;
    store(record);
    return true;
}

GitAuthManager::DeleteOutcome GitAuthManager::deleteToken(const std::string& expectedRefreshToken) {
    std::lock_guard lock(writeLock_);
    if (!holds(&OAuthTokenRecord::refreshToken, expectedRefreshToken)) return DeleteOutcome::notCurrent;
    return keychain_->remove(service, account) ? DeleteOutcome::deleted : DeleteOutcome::kept;
}

bool GitAuthManager::holds(std::string OAuthTokenRecord::*field, const std::string& value) const {
    auto current = loadToken();
    return current && (*current).*field == value;
}

void GitAuthManager::store(const OAuthTokenRecord& record) {
    std::string data = json::encode(record.toJson());
    if (!keychain_->save(data, service, account))
        throw GitAuthManagerError(GitAuthManagerError::Code::keychainSaveFailed);
}

}  // namespace pelko
