#pragma once
// GitHubOAuthEnvironment: the OAuth application's settings, gathered once at start-up from the
// environment first and then from "Config.plist" in the resource bundle. Plain value.
//
// `load` yields nothing when no client identifier is found, or the first one found is empty: then
// sign-in is not offered at all. A missing, unreadable or malformed Config.plist counts as empty, a
// value of the wrong type as missing; nothing is reported.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelko {

class Environment;

struct GitHubOAuthEnvironment {
    static constexpr const char* defaultRedirectURI = "pelko://oauth/callback";

    std::string clientID;
    std::optional<std::string> clientSecret;
    std::string redirectURI;
    // In the order given; always contains "offline_access".
    std::vector<std::string> scopes;

    static std::optional<GitHubOAuthEnvironment> load(const Environment& environment,
                                                      const std::filesystem::path& resourceBundle);

    friend bool operator==(const GitHubOAuthEnvironment&, const GitHubOAuthEnvironment&) = default;
};

}  // namespace pelko
