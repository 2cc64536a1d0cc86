#include "git/GitRemoteTrackingPayload.hpp"

namespace pelko {

Json GitRemoteTrackingPayload::toJson() const {
    Json json{{"projectId", projectId}, {"branch", branch}};
    if (remote) json["remote"] = *remote;
    json["ahead"] = ahead;
    json["behind"] = behind;
    return json;
}

}  // namespace pelko
