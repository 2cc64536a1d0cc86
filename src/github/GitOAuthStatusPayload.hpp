#pragma once
// GitOAuthStatusPayload: the "github/oauth/status" event, with GitOAuthAccountPayload for the signed-in
// account. Plain values.
//
// JSON keys in field order: "status" ("connected" or "disconnected"), "account" {"login",
// "avatarUrl"}, "expiresAt" (ISO 8601 with fractional seconds), "refreshed" (only ever written as
// true), "reason" ("userLogout", "refreshFailed", "tokenInvalid"); absent optionals are left out.
#include <optional>
#include <string>

#include "platform/Json.hpp"

namespace pelko {

struct GitOAuthAccountPayload {
    std::string login;
    std::optional<std::string> avatarUrl;

    Json toJson() const;
    friend bool operator==(const GitOAuthAccountPayload&, const GitOAuthAccountPayload&) = default;
};

struct GitOAuthStatusPayload {
    std::string status;
    std::optional<GitOAuthAccountPayload> account;
    std::optional<std::string> expiresAt;
    std::optional<bool> refreshed;
    std::optional<std::string> reason;

    Json toJson() const;
    friend bool operator==(const GitOAuthStatusPayload&, const GitOAuthStatusPayload&) = default;
};

}  // namespace pelko
