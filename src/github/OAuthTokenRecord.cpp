#include "github/OAuthTokenRecord.hpp"

#include <algorithm>
#include <sstream>

namespace pelko {

OAuthTokenRecord OAuthTokenRecord::fromResponse(const OAuthTokenResponse& response, const Clock& clock) {
    OAuthTokenRecord record;
    record.accessToken = response.accessToken;
    record.refreshToken = response.refreshToken;
    record.tokenType = response.tokenType;
    // Whole seconds: the stored form carries no fraction.
    record.expiresAt = response.expiresIn > 0 ? Date::fromSeconds(clock().seconds() + response.expiresIn)
                                              : Date::distantFuture();
    std::istringstream scopes(response.scope);
    for (std::string scope; std::getline(scopes, scope, ' ');)
        if (!scope.empty()) record.scope.push_back(scope);
    std::sort(record.scope.begin(), record.scope.end());
    return record;
}

OAuthTokenRecord OAuthTokenRecord::updating(const OAuthTokenResponse& response, const Clock& clock) const {
    OAuthTokenRecord record = fromResponse(response, clock);
    record.accountLogin = accountLogin;
    record.accountAvatarURL = accountAvatarURL;
    return record;
}

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
