// GitTokenRefresher with the real OAuth client against a loopback server, an in-memory keyring and a
// scheduler fired by hand.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>

#include "github/CurlGitHubOAuthClient.hpp"
#include "github/GitHubTestSupport.hpp"
#include "github/GitTokenRefresher.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

constexpr std::int64_t now = 1'700'000'000;

class RefresherTest : public ::testing::Test {
  protected:
    test::RoutedHttpServer server;
    std::shared_ptr<test::MemoryKeychain> keychain = std::make_shared<test::MemoryKeychain>();
    std::shared_ptr<GitAuthManager> authManager = std::make_shared<GitAuthManager>(keychain);
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>();
    std::shared_ptr<GitTokenRefresher> refresher = GitTokenRefresher::create(
        authManager,
        std::make_shared<CurlGitHubOAuthClient>("cid", std::nullopt, "pelko://oauth/callback",
                                                GitHubEndpoints{server.base(), server.base()}),
        scheduler, [] { return Date::fromSeconds(now); });
    std::shared_ptr<test::RecordingDelegate> delegate = std::make_shared<test::RecordingDelegate>();

    void SetUp() override {
        refresher->setDelegate(delegate);
        server.respond(
            "POST", "/login/oauth/access_token", 200,
            R"({"access_token":"gho_new","refresh_token":"ghr_new","scope":"repo","expires_in":28800})");
    }
    OAuthTokenRecord stored(std::int64_t expiresIn, std::string refreshToken = "ghr_old") {
        OAuthTokenRecord record{"gho_old",
                                std::move(refreshToken),
                                Date::fromSeconds(now + expiresIn),
                                {"repo"},
                                "bearer",
                                "octocat",
                                std::nullopt};
        authManager->saveToken(record);
        return record;
    }
    size_t tokenRequests() const { return server.requests("/login/oauth/access_token").size(); }
};

TEST_F(RefresherTest, RefreshesOnlyWithinTheMarginAndWithARefreshToken) {
    refresher->start();
    struct Case {
        std::int64_t expiresIn;
        std::string refreshToken;
        bool refreshes;
    };
    const Case cases[] = {{301, "ghr_old", false},
                          {300, "ghr_old", true},
                          {-50, "ghr_old", true},
                          {200, "", false},
                          {64'000'000'000, "ghr_old", false}};
    for (const auto& c : cases) {
        size_t before = tokenRequests();
        stored(c.expiresIn, c.refreshToken);
        refresher->evaluateRefresh();
        EXPECT_EQ(tokenRequests() - before, c.refreshes ? 1u : 0u) << c.expiresIn << " " << c.refreshToken;
        if (c.refreshes) {
            auto record = authManager->loadToken();
            ASSERT_TRUE(record);
            EXPECT_EQ(record->accessToken, "gho_new");
            EXPECT_EQ(record->accountLogin, "octocat") << "account fields are kept";
            EXPECT_EQ(record->expiresAt, Date::fromSeconds(now + 28800));
        }
    }
    auto calls = delegate->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, "refresh");
}

TEST_F(RefresherTest, AFailedRefreshDeletesTheTokenAndReportsOnce) {
    refresher->start();
    server.respond("POST", "/login/oauth/access_token", 200, R"({"access_token":"gho_new","scope":"repo"})");
    stored(10);
    refresher->evaluateRefresh();
    EXPECT_FALSE(authManager->loadToken());
    auto calls = delegate->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "refreshFail");
    EXPECT_EQ(calls[0].detail, "missingRefreshToken");
    refresher->evaluateRefresh();  // the schedule goes on; later checks find nothing
    EXPECT_EQ(delegate->calls().size(), 1u);
    EXPECT_TRUE(refresher->isRunning());
}

TEST_F(RefresherTest, StartSchedulesOnceAndARestartSchedulesAfresh) {
    refresher->start();
    refresher->start();
    EXPECT_EQ(scheduler->schedules, 1);
    EXPECT_EQ(scheduler->interval, std::chrono::seconds(60));
    refresher->stop();
    refresher->stop();
    EXPECT_EQ(scheduler->cancels, 1);
    refresher->start();
    EXPECT_EQ(scheduler->schedules, 2);
    stored(0);
    scheduler->handler();
    EXPECT_EQ(tokenRequests(), 1u);
}

// The refresh request is held at the server while the user signs out (or Git deletes a rejected
// token); the answer must not sign the user back in.
TEST_F(RefresherTest, ARefreshInFlightDuringSignOutIsDropped) {
    for (bool stopRefresher : {true, false}) {
        std::mutex mutex;
        std::condition_variable changed;
        bool requestArrived = false;
        bool release = false;
        server.route("POST", "/login/oauth/access_token", [&](const test::HttpExchangeRequest&) {
            std::unique_lock lock(mutex);
            requestArrived = true;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
            return test::HttpExchangeResponse{
                200, R"({"access_token":"gho_new","refresh_token":"ghr_new","scope":"repo"})", {}};
        });
        refresher->start();
        stored(10);
        auto check = std::async(std::launch::async, [&] { refresher->evaluateRefresh(); });
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return requestArrived; }));
        }
        authManager->deleteToken();
        if (stopRefresher) refresher->stop();
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        changed.notify_all();
        check.get();
        EXPECT_FALSE(authManager->loadToken()) << "stopped: " << stopRefresher;
        EXPECT_TRUE(delegate->calls().empty()) << "stopped: " << stopRefresher;
        refresher->stop();
    }
}

TEST_F(RefresherTest, ARefreshFailureAfterANewSignInKeepsTheNewToken) {
    refresher->start();
    std::promise<void> arrived;
    std::promise<void> release;
    auto released = release.get_future().share();
    server.route("POST", "/login/oauth/access_token", [&](const test::HttpExchangeRequest&) {
        arrived.set_value();
        released.wait();
        return test::HttpExchangeResponse{500, "", {}};
    });
    stored(10);
    auto check = std::async(std::launch::async, [&] { refresher->evaluateRefresh(); });
    arrived.get_future().wait();
    auto fresh = stored(3600, "ghr_fresh");
    release.set_value();
    check.get();
    EXPECT_EQ(authManager->loadToken(), fresh);
    EXPECT_TRUE(delegate->calls().empty());
}

}  // namespace
}  // namespace pelko
