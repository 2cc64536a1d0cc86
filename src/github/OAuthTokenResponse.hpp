#pragma once
// OAuthTokenResponse: what GitHub's token endpoint granted, after the OAuth client's checks. Plain
// value. `refreshToken` is empty when none was issued, `expiresIn` 0 when no lifetime was given and
// otherwise at most `maxExpiresIn` (the client refuses a grant outside 0...maxExpiresIn, so an expiry
// date computed from it never overflows), `scope` holds the scopes separated by single spaces.
#include <cstdint>
#include <string>

namespace pelko {

struct OAuthTokenResponse {
    // About a century, in seconds.
    static constexpr std::int64_t maxExpiresIn = std::int64_t{100} * 366 * 24 * 60 * 60;

    std::string accessToken;
    std::string refreshToken;
    std::int64_t expiresIn = 0;
    std::string scope;
    std::string tokenType;

    friend bool operator==(const OAuthTokenResponse&, const OAuthTokenResponse&) = default;
};

}  // namespace pelko
