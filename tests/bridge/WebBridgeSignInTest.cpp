// The GitHub sign-in relay: status events from the stored token, the page's three messages, the
// coordinator's and refresher's reports, the Git service's token-invalid notice, and security log lines.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgeTestSupport.hpp"
#include "config/AppConfig.hpp"

namespace pelko::test {
namespace {

class WebBridgeSignIn : public ::testing::Test {
  protected:
    // Wires the bridge and clears the two statuses that wiring sends.
    void configure(std::shared_ptr<FakeAuth> withAuth) {
        loaded.bridge->configure({.authManager = std::move(withAuth), .securityLogger = security});
        loaded.bridge->attach(coordinator, refresher);
        EXPECT_TRUE(loaded.webView->waitForCount(2));
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
    ASSERT_TRUE(webView->waitForCount(2));
    MainQueue::shared().drain();
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
    ASSERT_TRUE(loaded.webView->waitForCount(1));
    auth->token.reset();
    loaded.bridge->handle(message("github/oauth/requestStatus"));
    ASSERT_TRUE(loaded.webView->waitForCount(2));
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
    ASSERT_TRUE(loaded.webView->waitForCount(1));
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
    ASSERT_TRUE(loaded.webView->waitForCount(1));
    expectOneSecurityEntry(SecurityEventAction::oauthLogout, std::nullopt, std::nullopt);
    EXPECT_EQ(loaded.webView->events().at(0)["payload"].dump(),
              R"({"status":"disconnected","reason":"userLogout"})");
}

TEST_F(WebBridgeSignIn, StartLogsTheStoredAccountAndStartsTheCoordinatorOnALaterTurnEachTime) {
    configure(auth);
    auth->token = sampleToken();
    loaded.bridge->handle(message("github/oauth/start"));
    loaded.bridge->handle(message("github/oauth/start"));
    EXPECT_EQ(coordinator->starts, 0);
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] {
        std::lock_guard lock(security->mutex);
        return coordinator->starts == 2 && security->entries.size() == 2;
    }));
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
    ASSERT_TRUE(loaded.webView->waitForCount(1));
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

// A failed refresh whose token the keyring kept is still signed in: the status the token has when it can
// be read, then the reason; never "disconnected", even when the token cannot be read (a locked item).
TEST_F(WebBridgeSignIn, ARefreshFailureWhoseTokenTheKeyringKeptNeverReportsDisconnected) {
    struct Case {
        bool readable;
        std::vector<std::string> events;
    };
    const std::string error = R"({"message":"keychainDeleteFailed","recoverable":true})";
    const Case cases[] = {
        {true,
         {R"({"status":"connected","account":{"login":"octo","avatarUrl":"https://avatars.example/octo.png"},)"
          R"("expiresAt":"2030-06-01T12:00:00.000Z","reason":"refreshFailed"})",
          error}},
        {false, {error}},
    };
    configure(auth);
    for (const auto& c : cases) {
        loaded.webView->scripts.clear();
        security->entries.clear();
        auth->token = c.readable ? std::optional(sampleToken()) : std::nullopt;
        std::thread([&] {
            loaded.bridge->gitTokenRefresherDidFail(*refresher, "keychainDeleteFailed");
        }).join();
        ASSERT_TRUE(loaded.webView->waitForCount(c.events.size())) << c.readable;
        MainQueue::shared().drain();
        std::vector<std::string> payloads;
        for (const auto& event : loaded.webView->events()) payloads.push_back(event["payload"].dump());
        EXPECT_EQ(payloads, c.events) << c.readable;
        EXPECT_EQ(loaded.webView->types().back(), "github/oauth/error");
        expectOneSecurityEntry(SecurityEventAction::oauthRefreshFailure,
                               c.readable ? std::optional<std::string>("octo") : std::nullopt,
                               SecurityEventLogging::Metadata{{"error", "keychainDeleteFailed"}});
    }
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

// A keyring that kept the item (a locked one) leaves the account signed in: the page keeps the status it
// knows, hears why, and the refresher goes on.
TEST_F(WebBridgeSignIn, ALogoutTheKeyringRefusesNeverReportsDisconnected) {
    struct Case {
        bool readable;  // whether the kept token can still be read (an unlocked keyring refusing)
        std::vector<std::string> events;
    };
    const std::string error = R"({"message":"keychainDeleteFailed","recoverable":true})";
    const Case cases[] = {
        {true,
         {R"({"status":"connected","account":{"login":"octo","avatarUrl":"https://avatars.example/octo.png"},)"
          R"("expiresAt":"2030-06-01T12:00:00.000Z"})",
          error}},
        {false, {error}},
    };
    for (const auto& c : cases) {
        auto kept = std::make_shared<FakeAuth>();
        kept->keepOnDelete = true;
        if (c.readable) kept->token = sampleToken();
        LoadedBridge page;
        page.bridge->configure({.authManager = kept, .securityLogger = security});
        page.bridge->attach(coordinator, refresher);
        ASSERT_TRUE(page.webView->waitForCount(2));
        page.webView->scripts.clear();
        security->entries.clear();
        refresher->stops = 0;

        page.bridge->handle(message("github/oauth/logout"));
        ASSERT_TRUE(page.webView->waitForCount(c.events.size())) << c.readable;
        MainQueue::shared().drain();
        std::vector<std::string> payloads;
        for (const auto& event : page.webView->events()) payloads.push_back(event["payload"].dump());
        EXPECT_EQ(payloads, c.events) << c.readable;
        EXPECT_EQ(page.webView->types().back(), "github/oauth/error");
        EXPECT_EQ(kept->deletions, 1);
        EXPECT_EQ(refresher->stops, 0) << "the kept token is still refreshed";
        expectOneSecurityEntry(SecurityEventAction::oauthLogout,
                               c.readable ? std::optional<std::string>("octo") : std::nullopt,
                               SecurityEventLogging::Metadata{{"error", "keychainDeleteFailed"}});
    }
}

// A token store that answers only when the test lets it, as a keyring that took the call and waits.
class GatedAuth final : public GitAuthProviding {
  public:
    bool hasToken() const override { return loadToken().has_value(); }
    std::optional<OAuthTokenRecord> loadToken() const override {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --waiting_;
        ++answers_;
        return sampleToken();
    }
    bool deleteToken() override { return true; }
    void setOpen(bool open) {
        std::lock_guard lock(mutex_);
        open_ = open;
        changed_.notify_all();
    }
    bool isWaiting() const {
        std::lock_guard lock(mutex_);
        return waiting_ > 0;
    }
    int answers() const {
        std::lock_guard lock(mutex_);
        return answers_;
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable int waiting_ = 0;
    mutable int answers_ = 0;
    bool open_ = true;
};

// The page's requests are answered while the keyring is still busy; the status that follows
// "app/config" keeps its place after it, and what was sent meanwhile waits behind it only briefly.
TEST_F(WebBridgeSignIn, AKeyringThatDoesNotAnswerHoldsNeitherThePageNorItsOrder) {
    auto gated = std::make_shared<GatedAuth>();
    loaded.bridge->configure({.authManager = gated});
    loaded.bridge->updateConfigSnapshot(AppConfig::builtInDefault("/tmp"));
    ASSERT_TRUE(loaded.webView->waitForCount(3));

    // Answered at once, the status comes when the keyring does, events sent meanwhile wait behind it.
    loaded.webView->scripts.clear();
    gated->setOpen(false);
    loaded.bridge->handle(message("app/config/request"));
    loaded.bridge->dispatchEvent("meanwhile", Json::object());
    EXPECT_EQ(loaded.webView->types(), (std::vector<std::string>{"app/config"}));
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return gated->isWaiting(); }));
    gated->setOpen(true);
    ASSERT_TRUE(loaded.webView->waitForCount(3));
    EXPECT_EQ(loaded.webView->types(),
              (std::vector<std::string>{"app/config", "github/oauth/status", "meanwhile"}));

    // A keyring that stays silent past the hold: the next answer and the events after it go on, and
    // the statuses follow in their own order once it answers.
    loaded.webView->scripts.clear();
    gated->setOpen(false);
    loaded.bridge->handle(message("github/oauth/requestStatus"));
    loaded.bridge->handle(message("app/config/request"));
    loaded.bridge->dispatchEvent("meanwhile", Json::object());
    ASSERT_TRUE(loaded.webView->waitForCount(2));
    EXPECT_EQ(loaded.webView->types(), (std::vector<std::string>{"app/config", "meanwhile"}));
    EXPECT_TRUE(gated->isWaiting()) << "the keyring call was still open when the page was answered";
    gated->setOpen(true);
    ASSERT_TRUE(loaded.webView->waitForCount(4));
    EXPECT_EQ(
        loaded.webView->types(),
        (std::vector<std::string>{"app/config", "meanwhile", "github/oauth/status", "github/oauth/status"}));

    // A keyring that answered in time keeps its place even when the main thread was too busy to take
    // the answer before the hold ran out.
    loaded.webView->scripts.clear();
    const int answered = gated->answers();
    const auto reserved = std::chrono::steady_clock::now();
    loaded.bridge->handle(message("github/oauth/requestStatus"));
    loaded.bridge->dispatchEvent("meanwhile", Json::object());
    while (gated->answers() == answered ||
           std::chrono::steady_clock::now() < reserved + BridgeContext::keyringHold)
        std::this_thread::yield();  // busy, without a turn of the main loop
    ASSERT_TRUE(loaded.webView->waitForCount(2));
    EXPECT_EQ(loaded.webView->types(), (std::vector<std::string>{"github/oauth/status", "meanwhile"}));
}

}  // namespace
}  // namespace pelko::test
