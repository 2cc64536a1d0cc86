#include "github/OAuthTokenRecord.hpp"

namespace pelko {

Json OAuthTokenRecord::toJson() const {
    Json object = Json::object();
    object["accessToken"] = accessToken;
    object["refreshToken"] = refreshToken;
    object["expiresAt"] = expiresAt.isoSeconds();
    object["scope"] = scope;
    object["tokenType"] = tokenType;
    if (accountLogin) object["accountLogin"] = *accountLogin;
    if (accountAvatarURL) object["accountAvatarURL"] = *accountAvatarURL;
    return object;
}

OAuthTokenRecord OAuthTokenRecord::fromJson(const Json& value) {
    OAuthTokenRecord record;
    record.accessToken = json::reqString(value, "accessToken");
    record.refreshToken = json::reqString(value, "refreshToken");
    std::string expiresAt = json::reqString(value, "expiresAt");
    // Whole seconds only: the stored form never carries a fraction.
    auto date = Date::parseIso(expiresAt);
    if (!date || expiresAt.find('.') != std::string::npos)
        throw DecodeError("expected date (key: expiresAt)");
    record.expiresAt = *date;
    record.scope = json::asStringArray(json::reqArray(value, "scope"));
    record.tokenType = json::reqString(value, "tokenType");
    record.accountLogin = json::optString(value, "accountLogin");
    record.accountAvatarURL = json::optString(value, "accountAvatarURL");
    return record;
}

}  // namespace pelko
