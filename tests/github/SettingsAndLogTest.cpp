// GitHubOAuthEnvironment from an environment map and a Config.plist, and the security event log.
#include <gtest/gtest.h>

#include <thread>

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
        Environment::Map environment;
        std::string config;  // Config.plist entries; "-" for no file, "!" for a malformed one
        std::optional<std::string> clientID;
        std::optional<std::string> secret;
        std::string redirect;
        std::vector<std::string> scopes;
    };
    const std::string devAndProd =
        "<key>GitHubOAuthClientIdDev</key><string>plist-dev</string>"
        "<key>GitHubOAuthClientIdProd</key><string>plist-prod</string>";
    const Case cases[] = {
        {"nothing", {}, "-", std::nullopt, std::nullopt, "", {}},
        {"malformed plist", {}, "!", std::nullopt, std::nullopt, "", {}},
        {"empty DEV variable disables sign-in",
         {{"PELKO_GITHUB_OAUTH_CLIENT_ID_DEV", ""}, {"PELKO_GITHUB_OAUTH_CLIENT_ID_PROD", "env-prod"}},
         devAndProd,
         std::nullopt,
         std::nullopt,
         "",
         {}},
        {"DEV before PROD, environment before plist",
         {{"PELKO_GITHUB_OAUTH_CLIENT_ID_PROD", "env-prod"}, {"PELKO_GITHUB_OAUTH_CLIENT_SECRET_DEV", ""}},
         devAndProd + "<key>GitHubOAuthClientSecretProd</key><string>plist-secret</string>",
         "env-prod",
         std::nullopt,
         "pelko://oauth/callback",
         {"repo", "offline_access"}},
        {"plist DEV, wrong-typed values count as missing",
         {},
         devAndProd + "<key>GitHubOAuthClientSecretDev</key><integer>3</integer>"
                      "<key>GitHubOAuthClientSecretProd</key><string>plist-secret</string>"
                      "<key>GitHubOAuthRedirectURI</key><integer>1</integer>"
                      "<key>GitHubOAuthDefaultScopes</key><array><string>read:user</string><string>gist</"
                      "string></array>",
         "plist-dev",
         "plist-secret",
         "pelko://oauth/callback",
         {"read:user", "gist", "offline_access"}},
        {"scope text split at spaces and commas",
         {{"PELKO_GITHUB_OAUTH_CLIENT_ID_DEV", "id"},
          {"PELKO_GITHUB_OAUTH_REDIRECT_URI", "x-app://cb"},
          {"PELKO_GITHUB_OAUTH_DEFAULT_SCOPES", "repo, read:user,,gist"}},
         "-",
         "id",
         std::nullopt,
         "x-app://cb",
         {"repo", "read:user", "gist", "offline_access"}},
        {"only separators",
         {{"PELKO_GITHUB_OAUTH_CLIENT_ID_DEV", "id"}, {"PELKO_GITHUB_OAUTH_DEFAULT_SCOPES", " ,, "}},
         "-",
         "id",
         std::nullopt,
         "pelko://oauth/callback",
         {"repo", "offline_access"}},
        {"offline_access kept in place",
         {{"PELKO_GITHUB_OAUTH_CLIENT_ID_DEV", "id"},
          {"PELKO_GITHUB_OAUTH_DEFAULT_SCOPES", "offline_access repo"}},
         "-",
         "id",
         std::nullopt,
         "pelko://oauth/callback",
         {"offline_access", "repo"}},
    };
    for (const auto& c : cases) {
        test::TempDir bundle;
        if (c.config == "!")
            test::writeFile(bundle / "Config.plist", "<plist><dict><key>");
        else if (c.config != "-")
            test::writeFile(bundle / "Config.plist", plist(c.config));
        auto settings = GitHubOAuthEnvironment::load(Environment(c.environment), bundle.path());
        ASSERT_EQ(settings.has_value(), c.clientID.has_value()) << c.name;
        if (!settings) continue;
        EXPECT_EQ(settings->clientID, c.clientID) << c.name;
        EXPECT_EQ(settings->clientSecret, c.secret) << c.name;
        EXPECT_EQ(settings->redirectURI, c.redirect) << c.name;
        EXPECT_EQ(settings->scopes, c.scopes) << c.name;
    }
}

TEST(SecurityEventLoggerTest, WritesPrivateCompleteLinesInCallOrder) {
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
    EXPECT_TRUE(Date::parseIso(lines[0]["timestamp"].get<std::string>()));
    EXPECT_EQ(lines[0]["timestamp"].get<std::string>().size(), 24u);  // milliseconds and "Z"

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < 50; ++i)
                logger.log(SecurityEventAction::oauthSuccess, "user" + std::to_string(t),
                           SecurityEventLogging::Metadata{{"scopes", "repo offline_access"},
                                                          {"n", std::to_string(i)}});
        });
    }
    for (auto& thread : threads) thread.join();
    logger.flush();
    lines = test::readJsonLines(file);
    ASSERT_EQ(lines.size(), 201u);
    std::map<std::string, int> lastByLogin;
    for (size_t i = 1; i < lines.size(); ++i) {
        auto login = lines[i]["login"].get<std::string>();
        int n = std::stoi(lines[i]["metadata"]["n"].get<std::string>());
        if (lastByLogin.count(login)) {
            EXPECT_EQ(n, lastByLogin[login] + 1);
        }
        lastByLogin[login] = n;
    }
}

TEST(SecurityEventLoggerTest, TheDefaultFileLivesInAPrivateCacheFolder) {
    auto location = SecurityEventLogger::defaultLocation();
    EXPECT_EQ(location.filename(), "security-events.log");
    EXPECT_EQ(location.parent_path().filename(), "pelko");
    SecurityEventLogger logger;
    logger.log(SecurityEventAction::oauthStart, "octocat",
               SecurityEventLogging::Metadata{{"initiator", "user"}});
    logger.flush();
    EXPECT_EQ(test::fileMode(location), 0600u);
    EXPECT_EQ(test::readJsonLines(location).back()["metadata"]["initiator"], "user");
}

}  // namespace
}  // namespace pelko
