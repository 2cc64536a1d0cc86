#pragma once
// GitRemoteTrackingPayload: the "git/remote/tracking" event. Plain value.
//
// JSON keys in field order: "projectId" (upper-case UUID), "branch" ("HEAD" when detached), "remote"
// (the upstream such as "origin/main"; left out when the branch has none), "ahead", "behind".
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Json.hpp"

namespace pelko {

struct GitRemoteTrackingPayload {
    std::string projectId;
    std::string branch;
    std::optional<std::string> remote;
    std::int64_t ahead = 0;
    std::int64_t behind = 0;

    Json toJson() const;
    friend bool operator==(const GitRemoteTrackingPayload&, const GitRemoteTrackingPayload&) = default;
};

}  // namespace pelko
