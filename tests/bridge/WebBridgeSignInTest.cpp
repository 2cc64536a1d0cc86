// The GitHub sign-in relay: status events from the stored token, the page's three messages, the
// coordinator's and refresher's reports, the Git service's token-invalid notice, and security log lines.
#include <gtest/gtest.h>

#include <thread>

#include "bridge/BridgeTestSupport.hpp"

namespace pelko::test {
namespace {

class WebBridgeSignIn : public ::testing::Test {
  protected:
    void configure(std::shared_ptr<FakeAuth> withAuth) {
        loaded.bridge->configure({.authManager = std::move(withAuth), .securityLogger = security});
        loaded.bridge->attach(coordinator, refresher);
        loaded.webView->scripts.clear();
    }

    // The only security log line so far.
    void expectOneSecurityEntry(SecurityEventAction action, const std::optional<std::string>& login,
                                const std::optional<SecurityEventLogging::Metadata>& metadata) {
        ASSERT_EQ(security->entries.size(), 1u);
        EXPECT_EQ(security->entries[0].action, action);
        EXPECT_EQ(security->entries[0].login, login);
        EXPECT_EQ(security->entries[0].metadata, metadata);
    }

    LoadedBridge loaded;
    std::shared_ptr<FakeAuth> auth = std::make_shared<FakeAuth>();
    std::shared_ptr<FakeSecurityLogger> security = std::make_shared<FakeSecurityLogger>();
    std::shared_ptr<FakeCoordinator> coordinator = std::make_shared<FakeCoordinator>();
    std::shared_ptr<FakeRefresher> refresher = std::make_shared<FakeRefresher>();
};

TEST(WebBridgeSignInExpiry, TokensAfterTheYear2099CountAsNonExpiring) {
    EXPECT_TRUE(WebBridge::isNonExpiring(Date::distantFuture()));
    EXPECT_TRUE(WebBridge::isNonExpiring(*Date::parseIso("2100-06-01T00:00:00Z")));
    EXPECT_FALSE(WebBridge::isNonExpiring(*Date::parseIso("2099-06-30T12:00:00Z")));
    EXPECT_FALSE(WebBridge::isNonExpiring(*Date::parseIso("2026-03-01T09:30:00Z")));
}

TEST_F(WebBridgeSignIn, WiringAndAttachmentEachSendOneStatusHeldUntilTheFirstLoad) {
    auto bridge = WebBridge::create();
    auth->token = sampleToken();
    bridge->configure({.authManager = auth, .securityLogger = security});
    bridge->attach(coordinator, refresher);
    EXPECT_EQ(coordinator->delegate.lock().get(), static_cast<GitHubOAuthCoordinatorDelegate*>(bridge.get()));
    EXPECT_EQ(refresher->delegate.lock().get(), static_cast<GitTokenRefresherDelegate*>(bridge.get()));
    auto webView = std::make_shared<RecordingWebView>();
    bridge->attachWebView(webView);
    bridge->notifyWebViewDidFinishNavigation();
    ASSERT_EQ(webView->types(), (std::vector<std::string>{"github/oauth/status", "github/oauth/status"}));
    EXPECT_EQ(
        webView->events()[0]["payload"].dump(),
        R"({"status":"connected","account":{"login":"octo","avatarUrl":"https://avatars.example/octo.png"},)"
        R"("expiresAt":"2030-06-01T12:00:00.000Z"})");
}

TEST_F(WebBridgeSignIn, StatusLeavesOutWhatIsAbsent) {
    configure(auth);
    auth->token = sampleToken(std::nullopt);
    auth->token->expiresAt = Date::distantFuture();
    loaded.bridge->handle(message("github/oauth/requestStatus"));
    auth->token.reset();
    loaded.bridge->handle(message("github/oauth/requestStatus"));
    auto statuses = loaded.webView->eventsOfType("github/oauth/status");
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].dump(), R"({"status":"connected"})");
    EXPECT_EQ(statuses[1].dump(), R"({"status":"disconnected"})");
    EXPECT_TRUE(security->entries.empty());
}

TEST_F(WebBridgeSignIn, LogoutDeletesTheTokenStopsTheRefresherAndLogsTheFormerLogin) {
    configure(auth);
    auth->token = sampleToken();
    loaded.bridge->handle(message("github/oauth/logout"));
    EXPECT_EQ(auth->deletions, 1);
    EXPECT_EQ(refresher->stops, 1);
    expectOneSecurityEntry(SecurityEventAction::oauthLogout, "octo", std::nullopt);
    ASSERT_EQ(loaded.webView->scripts.size(), 1u);
    EXPECT_EQ(loaded.webView->events()[0]["payload"].dump(),
              R"({"status":"disconnected","reason":"userLogout"})");
}

TEST_F(WebBridgeSignIn, LogoutWithoutATokenManagerStillReportsDisconnected) {
    configure(nullptr);
    loaded.bridge->handle(message("github/oauth/logout"));
    expectOneSecurityEntry(SecurityEventAction::oauthLogout, std::nullopt, std::nullopt);
    EXPECT_EQ(loaded.webView->events().at(0)["payload"].dump(),
              R"({"status":"disconnected","reason":"userLogout"})");
}

TEST_F(WebBridgeSignIn, StartLogsAtOnceAndStartsTheCoordinatorOnALaterTurnEachTime) {
    configure(auth);
    auth->token = sampleToken();
    loaded.bridge->handle(message("github/oauth/start"));
    loaded.bridge->handle(message("github/oauth/start"));
    EXPECT_EQ(coordinator->starts, 0);
    MainQueue::shared().drain();
    EXPECT_EQ(coordinator->starts, 2);
    ASSERT_EQ(security->entries.size(), 2u);
    EXPECT_EQ(security->entries[0].action, SecurityEventAction::oauthStart);
    EXPECT_EQ(security->entries[0].login, "octo");
    EXPECT_EQ(security->entries[0].metadata, (SecurityEventLogging::Metadata{{"initiator", "user"}}));
    EXPECT_TRUE(loaded.webView->scripts.empty());
}

TEST_F(WebBridgeSignIn, CompletedSignInReportsTheStoredTokenNotTheOneHandedOver) {
    configure(auth);
    auth->token = sampleToken("stored");
    std::thread([&] {
        loaded.bridge->gitHubOAuthCoordinatorDidComplete(*coordinator, sampleToken("handed"));
    }).join();
    ASSERT_TRUE(loaded.webView->waitForCount(1));
    expectOneSecurityEntry(
        SecurityEventAction::oauthSuccess, "handed",
        SecurityEventLogging::Metadata{{"expiresAt", "2030-06-01T12:00:00.000Z"}, {"scopes", "repo user"}});
    EXPECT_EQ(loaded.webView->events()[0]["payload"]["account"]["login"], "stored");
}

TEST_F(WebBridgeSignIn, FailedSignInSendsOnlyARecoverableError) {
    configure(auth);
    loaded.bridge->gitHubOAuthCoordinatorDidFail(*coordinator, "The operation couldn’t be completed.");
    EXPECT_TRUE(loaded.webView->scripts.empty());  // always a later turn of the main queue
    MainQueue::shared().drain();
    ASSERT_EQ(loaded.webView->scripts.size(), 1u);
    EXPECT_EQ(
        loaded.webView->events()[0].dump(),
        R"({"type":"github/oauth/error","payload":{"message":"The operation couldn’t be completed.","recoverable":true}})");
    ASSERT_EQ(security->entries.size(), 1u);
    EXPECT_EQ(security->entries[0].action, SecurityEventAction::oauthFailure);
}

TEST_F(WebBridgeSignIn, RefreshReportsMarkTheStatusRefreshedOrFailed) {
    configure(auth);
    auth->token = sampleToken();
    std::thread([&] { loaded.bridge->gitTokenRefresherDidRefresh(*refresher, sampleToken()); }).join();
    ASSERT_TRUE(loaded.webView->waitForCount(1));
    EXPECT_EQ(loaded.webView->events()[0]["payload"]["refreshed"], true);

    loaded.webView->scripts.clear();
    auth->token.reset();
    std::thread([&] { loaded.bridge->gitTokenRefresherDidFail(*refresher, "expired"); }).join();
    ASSERT_TRUE(loaded.webView->waitForCount(2));
    MainQueue::shared().drain();
    ASSERT_EQ(loaded.webView->types(),
              (std::vector<std::string>{"github/oauth/status", "github/oauth/error"}));
    EXPECT_EQ(loaded.webView->events()[0]["payload"].dump(),
              R"({"status":"disconnected","reason":"refreshFailed"})");
    EXPECT_EQ(security->entries.back().action, SecurityEventAction::oauthRefreshFailure);
    EXPECT_EQ(security->entries.back().metadata, (SecurityEventLogging::Metadata{{"error", "expired"}}));
}

TEST_F(WebBridgeSignIn, TheGitServicesTokenInvalidNoticeIsLoggedOnceAndForwardedUnchanged) {
    configure(auth);
    GitOAuthStatusPayload invalid{"disconnected", GitOAuthAccountPayload{"octo", std::nullopt}, std::nullopt,
                                  std::nullopt, "tokenInvalid"};
    GitOAuthStatusPayload other{"disconnected", std::nullopt, std::nullopt, std::nullopt, "userLogout"};
    std::thread([&] {
        loaded.bridge->gitServiceDidUpdateOAuthStatus(invalid);
        loaded.bridge->gitServiceDidUpdateOAuthStatus(other);
    }).join();
    ASSERT_TRUE(loaded.webView->waitForCount(2));
    expectOneSecurityEntry(SecurityEventAction::oauthTokenInvalid, "octo",
                           SecurityEventLogging::Metadata{{"reason", "tokenInvalid"}});
    EXPECT_EQ(loaded.webView->events()[0]["payload"].dump(),
              R"({"status":"disconnected","account":{"login":"octo"},"reason":"tokenInvalid"})");
    EXPECT_EQ(loaded.webView->events()[1]["payload"].dump(),
              R"({"status":"disconnected","reason":"userLogout"})");
}

}  // namespace
}  // namespace pelko::test
