#pragma once
// GitRefreshBarrierPayload: the "git/refresh/barrier" event: "projectId" (upper-case UUID) and
// "requestId" (echoed unchanged). Plain value.
#include <string>

#include "platform/Json.hpp"

namespace pelko {

struct GitRefreshBarrierPayload {
    std::string projectId;
    std::string requestId;

    Json toJson() const { return Json{{"projectId", projectId}, {"requestId", requestId}}; }
    friend bool operator==(const GitRefreshBarrierPayload&, const GitRefreshBarrierPayload&) = default;
};

}  // namespace pelko
