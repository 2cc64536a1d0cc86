// GitHub sign-in through the real sign-in window: the application runs on a private D-Bus session
// with a gnome-keyring of its own, GitHub's hosts point at a loopback server whose authorise page
// answers with a redirect to the callback address, and the page reports the statuses it receives.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <fstream>

#include "e2e/PelkoWindowFixture.hpp"
#include "github/GitHubOAuthCoordinator.hpp"
#include "github/GitHubTestSupport.hpp"
#include "support/PrivateKeyring.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

const char* const signInScript = R"(
  let started = false;
  window.__pelko__ = {
    dispatch: function (event) {
      if (event.type === 'github/oauth/status') {
        const p = event.payload;
        log('status ' + p.status + ' ' + (p.account ? p.account.login : '-') + ' ' + (p.reason || '-'));
        if (!started) {
          started = true;
          post({ type: 'github/oauth/start' });
        } else if (p.status === 'connected') {
          post({ type: 'github/oauth/logout' });
        }
      }
      if (event.type === 'github/oauth/error') log('error ' + event.payload.message);
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";

std::string filesUnder(const std::filesystem::path& folder) {
    std::string all;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file()) all += test::readFile(it->path());
    }
    return all;
}

class SignInWindowTest : public test::PelkoWindowTest {};

TEST_F(SignInWindowTest, SignInThroughTheWindowStoresTheTokenAndReportsTheAccount) {
    test::TempDir keyringFolder;
    test::PrivateKeyring keyring(keyringFolder.path());
    ASSERT_TRUE(keyring.ready) << "dbus-daemon or gnome-keyring-daemon could not start";

    test::RoutedHttpServer github;
    github.route("GET", "/login/oauth/authorize", [](const test::HttpExchangeRequest& request) {
        auto state = urlencoding::encode(test::formFields(request.query)["state"]);
        return test::HttpExchangeResponse{
            302, "", {{"Location", "pelko://oauth/callback?code=e2e-code&state=" + state}}};
    });
    github.respond("POST", "/login/oauth/access_token", 200,
                   R"({"access_token":"gho_e2eAccessSecret","refresh_token":"ghr_e2eRefreshSecret",)"
                   R"("token_type":"bearer","scope":"repo","expires_in":28800})");
    github.respond("GET", "/user", 200, R"({"login":"octocat-e2e"})");

    writeTestPage(signInScript);
    auto pelko = start({{"DBUS_SESSION_BUS_ADDRESS", keyring.address},
                        {"PELKO_GITHUB_OAUTH_CLIENT_ID_DEV", "e2e-client"},
                        {"PELKO_GITHUB_OAUTH_BASE_URL", github.base()},
                        {"PELKO_GITHUB_API_BASE_URL", github.base()}});
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("status disconnected - userLogout"); }, 120s))
        << output() << test::readFile(logFile());

    std::vector<std::string> statuses;
    for (const auto& message : pageMessages())
        if (message.rfind("status ", 0) == 0 || message.rfind("error ", 0) == 0) statuses.push_back(message);
    // Start-up sends the stored status twice with sign-in configured, the content view once more;
    // then the sign-in (read back from the keyring) and the sign-out.
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses.front(), "status disconnected - -");
    EXPECT_EQ(statuses[statuses.size() - 2], "status connected octocat-e2e -");
    EXPECT_EQ(statuses.back(), "status disconnected - userLogout");

    // The exchange sent the code from the redirect and the verifier behind the challenge.
    auto authorize = github.requests("/login/oauth/authorize");
    auto exchange = github.requests("/login/oauth/access_token");
    ASSERT_EQ(authorize.size(), 1u);
    ASSERT_EQ(exchange.size(), 1u);
    auto sent = test::formFields(exchange[0].body);
    EXPECT_EQ(sent["code"], "e2e-code");
    EXPECT_EQ(GitHubOAuthCoordinator::codeChallengeS256(sent["code_verifier"]),
              test::formFields(authorize[0].query)["code_challenge"]);

    auto securityLog = test::readJsonLines(dir / "cache/pelko/security-events.log");
    std::vector<std::string> actions;
    for (const auto& line : securityLog) actions.push_back(line["action"]);
    EXPECT_EQ(actions, (std::vector<std::string>{"oauthStart", "oauthSuccess", "oauthLogout"}));
    EXPECT_EQ(securityLog.at(1)["login"], "octocat-e2e");

    const std::string written = filesUnder(dir / "cache") + output();
    EXPECT_EQ(written.find("e2eAccessSecret"), std::string::npos);
    EXPECT_EQ(written.find("e2eRefreshSecret"), std::string::npos);
}

}  // namespace
}  // namespace pelko
