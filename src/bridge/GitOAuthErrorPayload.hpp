#pragma once
// GitOAuthErrorPayload: the "github/oauth/error" event. JSON keys "message", "recoverable".
#include <string>

#include "platform/Json.hpp"

namespace pelko {

struct GitOAuthErrorPayload {
    std::string message;
    bool recoverable = true;

    Json toJson() const;
    friend bool operator==(const GitOAuthErrorPayload&, const GitOAuthErrorPayload&) = default;
};

}  // namespace pelko
