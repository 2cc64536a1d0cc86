// GitHubOAuthEnvironment from an environment map and a Config.plist, and the security event log.
#include <gtest/gtest.h>

#include "github/GitHubOAuthEnvironment.hpp"
#include "github/SecurityEventLogger.hpp"
#include "platform/Date.hpp"
#include "platform/Environment.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

std::string plist(const std::string& entries) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>)" +
           entries + "</dict></plist>";
}

TEST(GitHubOAuthEnvironmentTest, SourcesAndScopesFollowTheirPrecedence) {
    struct Case {
        const char* name;
        Environment::Map environment;  // names after "PELKO_GITHUB_OAUTH_"
        std::string config;            // Config.plist entries; "-" for no file, "!" for a malformed one
        std::optional<GitHubOAuthEnvironment> settings;
    };
    const std::string ids =
        "<key>GitHubOAuthClientIdDev</key><string>plist-dev</string>"
        "<key>GitHubOAuthClientIdProd</key><string>plist-prod</string>";
    const std::string callback = "pelko://oauth/callback";
    const Case cases[] = {
        {"nothing", {}, "-", std::nullopt},
        {"malformed plist", {}, "!", std::nullopt},
        {"empty DEV variable disables sign-in",
         {{"CLIENT_ID_DEV", ""}, {"CLIENT_ID_PROD", "env-prod"}},
         ids,
         std::nullopt},
        {"DEV before PROD, environment before plist",
         {{"CLIENT_ID_PROD", "env-prod"}, {"CLIENT_SECRET_DEV", ""}},
         ids + "<key>GitHubOAuthClientSecretProd</key><string>plist-secret</string>",
         GitHubOAuthEnvironment{"env-prod", std::nullopt, callback, {"repo", "offline_access"}}},
        {"plist DEV, wrong-typed values count as missing",
         {},
         ids + "<key>GitHubOAuthClientSecretDev</key><integer>3</integer>"
               "<key>GitHubOAuthClientSecretProd</key><string>plist-secret</string>"
               "<key>GitHubOAuthRedirectURI</key><integer>1</integer>"
               "<key>GitHubOAuthDefaultScopes</key><array><string>read:user</string><string>gist</string></"
               "array>",
         GitHubOAuthEnvironment{
             "plist-dev", "plist-secret", callback, {"read:user", "gist", "offline_access"}}},
        {"scope text split at spaces and commas",
         {{"CLIENT_ID_DEV", "id"},
          {"REDIRECT_URI", "x-app://cb"},
          {"DEFAULT_SCOPES", "repo, read:user,,gist"}},
         "-",
         GitHubOAuthEnvironment{
             "id", std::nullopt, "x-app://cb", {"repo", "read:user", "gist", "offline_access"}}},
        {"only separators",
         {{"CLIENT_ID_DEV", "id"}, {"DEFAULT_SCOPES", " ,, "}},
         "-",
         GitHubOAuthEnvironment{"id", std::nullopt, callback, {"repo", "offline_access"}}},
    };
    for (const auto& c : cases) {
        test::TempDir bundle;
        if (c.config == "!")
            test::writeFile(bundle / "Config.plist", "<plist><dict><key>");
        else if (c.config != "-")
            test::writeFile(bundle / "Config.plist", plist(c.config));
        Environment::Map environment;
        for (const auto& [name, value] : c.environment) environment["PELKO_GITHUB_OAUTH_" + name] = value;
        EXPECT_EQ(GitHubOAuthEnvironment::load(Environment(environment), bundle.path()), c.settings)
            << c.name;
    }
}

TEST(SecurityEventLoggerTest, WritesPrivateJsonLines) {
    test::TempDir folder;
    auto file = folder / "security-events.log";
    SecurityEventLogger logger(file);
    logger.log(SecurityEventAction::oauthLogout, std::nullopt, std::nullopt);
    logger.flush();
    EXPECT_EQ(test::fileMode(file), 0600u);
    auto lines = test::readJsonLines(file);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 2u);
    EXPECT_EQ(lines[0]["action"], "oauthLogout");
    auto timestamp = lines[0]["timestamp"].get<std::string>();
    EXPECT_TRUE(Date::parseIso(timestamp));
    EXPECT_EQ(timestamp.size(), 24u);  // milliseconds and "Z"
}

}  // namespace
}  // namespace pelko
