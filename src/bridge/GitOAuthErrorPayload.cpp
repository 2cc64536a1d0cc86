#include "bridge/GitOAuthErrorPayload.hpp"

namespace pelko {

Json GitOAuthErrorPayload::toJson() const {
    Json object = Json::object();
    object["message"] = message;
    object["recoverable"] = recoverable;
    return object;
}

}  // namespace pelko
