#include "github/GitHubOAuthEnvironment.hpp"

#include <algorithm>

#include "platform/Environment.hpp"
#include "platform/PropertyList.hpp"

namespace pelko {
namespace {

// The first source that has the key decides, even with an empty value.
std::optional<std::string> firstFound(const Environment& environment, const PropertyList& config,
                                      const char* devVariable, const char* prodVariable, const char* devKey,
                                      const char* prodKey) {
    if (auto value = environment.get(devVariable)) return value;
    if (auto value = environment.get(prodVariable)) return value;
    if (auto value = config.string(devKey)) return value;
    return config.string(prodKey);
}

std::vector<std::string> splitScopes(const std::string& text) {
    std::vector<std::string> scopes;
    std::string current;
    for (char c : text) {
        if (c == ' ' || c == ',') {
            if (!current.empty()) scopes.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) scopes.push_back(std::move(current));
    return scopes;
}

}  // namespace

std::optional<GitHubOAuthEnvironment> GitHubOAuthEnvironment::load(
    const Environment& environment, const std::filesystem::path& resourceBundle) {
    // A missing or malformed Config.plist counts as empty.
    const PropertyList config = PropertyList::read(resourceBundle / "Config.plist").value_or(PropertyList{});

    auto clientID =
        firstFound(environment, config, "PELKO_GITHUB_OAUTH_CLIENT_ID_DEV",
                   "PELKO_GITHUB_OAUTH_CLIENT_ID_PROD", "GitHubOAuthClientIdDev", "GitHubOAuthClientIdProd");
    if (!clientID || clientID->empty()) return std::nullopt;

    GitHubOAuthEnvironment settings;
    settings.clientID = *clientID;
    auto secret = firstFound(environment, config, "PELKO_GITHUB_OAUTH_CLIENT_SECRET_DEV",
                             "PELKO_GITHUB_OAUTH_CLIENT_SECRET_PROD", "GitHubOAuthClientSecretDev",
                             "GitHubOAuthClientSecretProd");
    if (secret && !secret->empty()) settings.clientSecret = *secret;

    if (auto redirect = environment.get("PELKO_GITHUB_OAUTH_REDIRECT_URI"))
        settings.redirectURI = *redirect;
    else
        settings.redirectURI = config.string("GitHubOAuthRedirectURI").value_or(defaultRedirectURI);

    std::string scopesText = "repo";
    if (auto text = environment.nonEmpty("PELKO_GITHUB_OAUTH_DEFAULT_SCOPES")) {
        scopesText = *text;
    } else if (auto items = config.strings("GitHubOAuthDefaultScopes"); items && !items->empty()) {
        scopesText.clear();
        for (const auto& item : *items) scopesText += (scopesText.empty() ? "" : " ") + item;
    }
    settings.scopes = splitScopes(scopesText);
    if (settings.scopes.empty()) settings.scopes = {"repo"};
    if (std::find(settings.scopes.begin(), settings.scopes.end(), "offline_access") == settings.scopes.end())
        settings.scopes.push_back("offline_access");
    return settings;
}

}  // namespace pelko
