#include "github/GitOAuthStatusPayload.hpp"

namespace pelko {

Json GitOAuthAccountPayload::toJson() const {
    Json object = Json::object();
    object["login"] = login;
    if (avatarUrl) object["avatarUrl"] = *avatarUrl;
    return object;
}

Json GitOAuthStatusPayload::toJson() const {
    Json object = Json::object();
    object["status"] = status;
    if (account) object["account"] = account->toJson();
    if (expiresAt) object["expiresAt"] = *expiresAt;
    if (refreshed) object["refreshed"] = *refreshed;
    if (reason) object["reason"] = *reason;
    return object;
}

}  // namespace pelko
