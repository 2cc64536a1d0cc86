#include "github/GitHubOAuthEnvironment.hpp"

#include <plist/plist.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <variant>

#include "platform/Environment.hpp"

namespace pelko {
namespace {

// The Config.plist values this reader cares about: texts, and arrays kept as their text items.
using PlistValue = std::variant<std::string, std::vector<std::string>>;
using PlistDictionary = std::map<std::string, PlistValue>;

std::optional<std::string> plistText(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(node, &value);
    if (!value) return std::nullopt;
    std::string text(value);
    free(value);
    return text;
}

PlistDictionary loadConfig(const std::filesystem::path& resourceBundle) {
    std::ifstream in(resourceBundle / "Config.plist", std::ios::binary);
    if (!in) return {};
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    std::unique_ptr<void, void (*)(plist_t)> owner(root, [](plist_t node) {
        if (node) plist_free(node);
    });
    if (!root || plist_get_node_type(root) != PLIST_DICT) return {};

    PlistDictionary dictionary;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(root, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, iter, &key, &value);
        if (!key) break;
        std::string name(key);
        free(key);
        if (auto text = plistText(value)) {
            dictionary[name] = *text;
        } else if (value && plist_get_node_type(value) == PLIST_ARRAY) {
            std::vector<std::string> items;
            bool allTexts = true;
            for (uint32_t i = 0; i < plist_array_get_size(value); ++i) {
                auto item = plistText(plist_array_get_item(value, i));
                if (!item)
                    allTexts = false;
                else
                    items.push_back(*item);
            }
            if (allTexts) dictionary[name] = std::move(items);
        }
    }
    free(iter);
    return dictionary;
}

std::optional<std::string> textValue(const PlistDictionary& dictionary, const std::string& key) {
    auto found = dictionary.find(key);
    if (found == dictionary.end()) return std::nullopt;
    if (auto* text = std::get_if<std::string>(&found->second)) return *text;
    return std::nullopt;
}

// The first source that has the key decides, even with an empty value.
std::optional<std::string> firstFound(const Environment& environment, const PlistDictionary& dictionary,
                                      const char* devVariable, const char* prodVariable, const char* devKey,
                                      const char* prodKey) {
    if (auto value = environment.get(devVariable)) return value;
    if (auto value = environment.get(prodVariable)) return value;
    if (auto value = textValue(dictionary, devKey)) return value;
    return textValue(dictionary, prodKey);
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
    PlistDictionary config = loadConfig(resourceBundle);

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
        settings.redirectURI = textValue(config, "GitHubOAuthRedirectURI").value_or(defaultRedirectURI);

    std::string scopesText = "repo";
    if (auto text = environment.nonEmpty("PELKO_GITHUB_OAUTH_DEFAULT_SCOPES")) {
        scopesText = *text;
    } else if (auto found = config.find("GitHubOAuthDefaultScopes"); found != config.end()) {
        if (auto* items = std::get_if<std::vector<std::string>>(&found->second); items && !items->empty()) {
            scopesText.clear();
            for (const auto& item : *items) scopesText += (scopesText.empty() ? "" : " ") + item;
        }
    }
    settings.scopes = splitScopes(scopesText);
    if (settings.scopes.empty()) settings.scopes = {"repo"};
    if (std::find(settings.scopes.begin(), settings.scopes.end(), "offline_access") == settings.scopes.end())
        settings.scopes.push_back("offline_access");
    return settings;
}

}  // namespace pelko
