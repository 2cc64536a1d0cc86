#pragma once
// OAuthTokenRecord: the stored GitHub sign-in (the keychain item's JSON). Plain value.
//
// JSON keys in field order: "accessToken", "refreshToken" (empty when GitHub issued none),
// "expiresAt" (whole seconds with "Z"; the distant future for a token without expiry), "scope"
// (sorted), "tokenType", "accountLogin" and "accountAvatarURL" (left out when absent). Reading needs
// the five required keys with their types, rejects an expiry with fractional seconds, and ignores
// unknown keys. The access and refresh tokens must never reach a log or an event.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "github/OAuthTokenResponse.hpp"
#include "platform/Date.hpp"
#include "platform/Json.hpp"

namespace pelko {

struct OAuthTokenRecord {
    std::string accessToken;
    std::string refreshToken;
    Date expiresAt;
    std::vector<std::string> scope;
    std::string tokenType;
    std::optional<std::string> accountLogin;
    std::optional<std::string> accountAvatarURL;

    using Clock = std::function<Date()>;

    // A new sign-in's record: tokens and type as granted, expiry clock() + expiresIn (the distant
    // future without a lifetime), scopes split at spaces and sorted; no account fields.
    static OAuthTokenRecord fromResponse(const OAuthTokenResponse& response, const Clock& clock);
    // The record after a refresh: as fromResponse, keeping this record's account fields.
    OAuthTokenRecord updating(const OAuthTokenResponse& response, const Clock& clock) const;

    Json toJson() const;
    // Throws DecodeError.
    static OAuthTokenRecord fromJson(const Json& value);

    friend bool operator==(const OAuthTokenRecord&, const OAuthTokenRecord&) = default;
};

}  // namespace pelko
