// GitTokenRefresher with the real OAuth client against a loopback server, an in-memory keyring and a
// scheduler fired by hand.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>

#include <future>

#include "github/CurlGitHubOAuthClient.hpp"
#include "github/GitHubTestSupport.hpp"
#include "github/GitTokenRefresher.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/Environment.hpp"
#include "platform/ProcessEnd.hpp"
#include "platform/UniqueFd.hpp"
#include "support/LoopbackListener.hpp"
#include "support/RoutedHttpServer.hpp"
#include "support/TestInChild.hpp"

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
    OAuthTokenRecord stored(std::int64_t expiresIn, const std::string& refreshToken = "ghr_old") {
        OAuthTokenRecord record{
            "gho_old", refreshToken, Date::fromSeconds(now + expiresIn), {"repo"}, "bearer", "octocat", {}};
        authManager->saveToken(record);
        return record;
    }
    size_t tokenRequests() const { return server.requests("/login/oauth/access_token").size(); }
};

TEST_F(RefresherTest, TheMinutelyCheckRefreshesOnlyWithinTheMarginAndWithARefreshToken) {
    refresher->start();
    EXPECT_EQ(scheduler->interval, std::chrono::seconds(60));
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
        scheduler->handler();
        EXPECT_EQ(tokenRequests() - before, c.refreshes ? 1u : 0u) << c.expiresIn << " " << c.refreshToken;
        if (c.refreshes) {
            auto record = authManager->loadToken();
            ASSERT_TRUE(record);
            EXPECT_EQ(record->accessToken, "gho_new");
            EXPECT_EQ(record->accountLogin, "octocat") << "account fields are kept";
            EXPECT_EQ(record->expiresAt, Date::fromSeconds(now + 28800));
        }
    }
    EXPECT_EQ(delegate->calls(), (std::vector<std::string>{"refresh", "refresh"}));
    auto sent = test::formFields(server.requests("/login/oauth/access_token").at(0).body);
    EXPECT_EQ(sent["grant_type"], "refresh_token");
    EXPECT_EQ(sent["refresh_token"], "ghr_old");
    EXPECT_EQ(sent.count("client_secret"), 0u) << "none is configured";
    refresher->stop();
    EXPECT_FALSE(scheduler->handler);
}

// The refresh request is held at the server while the user signs out (or Git deletes a rejected
// token, or a new sign-in stores its token): then its answer, good or bad, must not touch what is
// stored. With nothing in between, a failed refresh deletes the token and reports; when the keyring
// keeps the token, it stays and the report says so.
TEST_F(RefresherTest, ARefreshAnswerTakesEffectOnlyIfNothingChangedMeanwhile) {
    struct Case {
        std::string meanwhile;
        int status;
    };
    const Case cases[] = {{"nothing", 500},   {"signOut", 200},   {"gitDeletes", 200},
                          {"newSignIn", 200}, {"newSignIn", 500}, {"keyringRefusesDeletes", 500}};
    for (const auto& c : cases) {
        std::promise<void> arrived;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        server.route("POST", "/login/oauth/access_token", [&](const test::HttpExchangeRequest&) {
            arrived.set_value();
            released.wait();
            return test::HttpExchangeResponse{
                c.status, R"({"access_token":"gho_new","refresh_token":"ghr_new","scope":"repo"})", {}};
        });
        refresher->start();
        auto original = stored(10);
        auto check = std::async(std::launch::async, [&] { refresher->evaluateRefresh(); });
        ASSERT_EQ(arrived.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        std::optional<OAuthTokenRecord> expected;
        if (c.meanwhile == "newSignIn") {
            expected = stored(3600, "ghr_fresh");
        } else if (c.meanwhile == "keyringRefusesDeletes") {
            keychain->refuseRemoves = true;
            expected = original;
        } else if (c.meanwhile != "nothing") {
            authManager->deleteToken();
        }
        if (c.meanwhile == "signOut") refresher->stop();
        release.set_value();
        check.get();
        EXPECT_EQ(authManager->loadToken(), expected) << c.meanwhile << " " << c.status;
        keychain->refuseRemoves = false;
    }
    EXPECT_EQ(delegate->calls(),
              (std::vector<std::string>{"refreshFail invalidResponse", "refreshFail keychainDeleteFailed"}));
}

// GitHub refuses the refresh token and the keyring keeps the record: the page hears it once, and the
// dead refresh token is not sent again each minute. A record stored later with another refresh token
// is checked afresh: reported once in its turn when it fails the same way, refreshed when GitHub
// takes it.
TEST_F(RefresherTest, ARefusedRefreshTheKeyringKeptIsReportedOnceAndNeverSentAgain) {
    server.respond("POST", "/login/oauth/access_token", 200, R"({"error":"bad_refresh_token"})");
    refresher->start();
    keychain->refuseRemoves = true;
    const char* const refreshTokens[] = {"ghr_old", "ghr_second"};
    for (const char* refreshToken : refreshTokens) {
        auto kept = stored(10, refreshToken);
        for (int minute = 0; minute < 4; ++minute) scheduler->handler();
        EXPECT_EQ(authManager->loadToken(), kept) << refreshToken;
    }
    auto sent = server.requests("/login/oauth/access_token");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(test::formFields(sent[0].body)["refresh_token"], "ghr_old");
    EXPECT_EQ(test::formFields(sent[1].body)["refresh_token"], "ghr_second");
    EXPECT_EQ(delegate->calls(), (std::vector<std::string>{"refreshFail keychainDeleteFailed",
                                                           "refreshFail keychainDeleteFailed"}));

    keychain->refuseRemoves = false;
    server.respond(
        "POST", "/login/oauth/access_token", 200,
        R"({"access_token":"gho_new","refresh_token":"ghr_new","scope":"repo","expires_in":28800})");
    stored(10, "ghr_third");
    scheduler->handler();
    ASSERT_EQ(tokenRequests(), 3u);
    EXPECT_EQ(test::formFields(server.requests("/login/oauth/access_token").at(2).body)["refresh_token"],
              "ghr_third");
    EXPECT_EQ(delegate->calls().back(), "refresh");
    EXPECT_EQ(authManager->loadToken()->refreshToken, "ghr_new");
}

// A connection waiting on `listener`, taken within `bound`; invalid if none came.
UniqueFd acceptWithin(int listener, std::chrono::milliseconds bound) {
    pollfd ready{listener, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(bound.count())) != 1) return UniqueFd();
    return UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

// A running refresher whose OAuth server is a bare loopback listener, over a memory keychain.
struct EndRig {
    EndRig() {
        const auto listener = test::listenOnLoopback(8);
        listening.reset(listener.fd);
        const std::string base = "http://127.0.0.1:" + std::to_string(listener.port);
        refresher = GitTokenRefresher::create(
            authManager,
            std::make_shared<CurlGitHubOAuthClient>("cid", std::nullopt, "pelko://oauth/callback",
                                                    GitHubEndpoints{base, base}),
            scheduler, [] { return Date::fromSeconds(now); });
        refresher->setDelegate(delegate);
        refresher->start();
    }

    UniqueFd listening;
    std::shared_ptr<test::MemoryKeychain> keychain = std::make_shared<test::MemoryKeychain>();
    std::shared_ptr<GitAuthManager> authManager = std::make_shared<GitAuthManager>(keychain);
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>();
    std::shared_ptr<test::RecordingDelegate> delegate = std::make_shared<test::RecordingDelegate>();
    std::shared_ptr<GitTokenRefresher> refresher;
    const OAuthTokenRecord record{"gho_old", "ghr_old", Date::fromSeconds(now + 10), {"repo"}, "bearer",
                                  "octocat", {}};
};

// While the application runs, a refresh whose connection is lost deletes the token and says so. Once
// the end of the process has begun, neither the refresh the end cuts off (its server holds the answer)
// nor a check that fires afterwards touches the stored token or reports anything.
void refreshesAroundTheEnd() {
    EndRig rig;
    auto& [listening, keychain, authManager, scheduler, delegate, refresher, record] = rig;

    authManager->saveToken(record);
    auto lost = std::async(std::launch::async, [&] { scheduler->handler(); });
    ASSERT_TRUE(acceptWithin(listening.get(), std::chrono::seconds(60)).valid()) << "no refresh came";
    ASSERT_EQ(lost.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_FALSE(authManager->loadToken()) << "a lost connection deletes the token";
    auto calls = delegate->calls(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind("refreshFail ", 0), 0u) << calls[0];

    authManager->saveToken(record);
    auto held = std::async(std::launch::async, [&] { scheduler->handler(); });
    UniqueFd holding = acceptWithin(listening.get(), std::chrono::seconds(60));
    ASSERT_TRUE(holding.valid()) << "no refresh came";
    ProcessEnd::begin();
    ASSERT_EQ(held.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "the end waited for the refresh";
    EXPECT_EQ(authManager->loadToken(), record) << "the refresh the end cut off deleted the token";

    authManager->saveToken(record);
    scheduler->handler();
    EXPECT_FALSE(acceptWithin(listening.get(), std::chrono::milliseconds(0)).valid())
        << "a refresh started after the end had begun";
    EXPECT_EQ(authManager->loadToken(), record) << "a check after the end deleted the token";
    EXPECT_EQ(delegate->calls(), calls) << "the end's cut-off was reported";
}

constexpr const char* endChildVariable = "PELKO_TEST_REFRESH_END";

// The end begins while a refresh that failed before it asks the keyring to delete its token: the
// keyring's refusal is the end's cut-off, so nothing is remembered or reported.
void aDeletionTheEndCutsOff() {
    EndRig rig;
    auto& [listening, keychain, authManager, scheduler, delegate, refresher, record] = rig;
    authManager->saveToken(record);
    keychain->beforeRemove = [&] {
        ProcessEnd::begin();
        keychain->refuseRemoves = true;
    };

    auto lost = std::async(std::launch::async, [&] { scheduler->handler(); });
    ASSERT_TRUE(acceptWithin(listening.get(), std::chrono::seconds(60)).valid()) << "no refresh came";
    ASSERT_EQ(lost.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(authManager->loadToken(), record);
    EXPECT_TRUE(delegate->calls().empty()) << "the end's cut-off of the keyring was reported";
}

constexpr const char* deletionChildVariable = "PELKO_TEST_REFRESH_END_DELETION";

TEST(RefresherEndTest, ADeletionTheEndCutsOffIsNotReported) {
    if (Environment::process().get(deletionChildVariable)) return aDeletionTheEndCutsOff();
    auto status = test::runTestInChild("RefresherEndTest.ADeletionTheEndCutsOffIsNotReported",
                                       test::processEnvironmentWith({{deletionChildVariable, "1"}}),
                                       std::chrono::seconds(200));
    ASSERT_TRUE(status) << "the checks did not finish";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "the checks failed";
}

TEST(RefresherEndTest, TheEndNeitherDeletesTheTokenNorReports) {
    if (Environment::process().get(endChildVariable)) return refreshesAroundTheEnd();
    auto status = test::runTestInChild("RefresherEndTest.TheEndNeitherDeletesTheTokenNorReports",
                                       test::processEnvironmentWith({{endChildVariable, "1"}}),
                                       std::chrono::seconds(200));
    ASSERT_TRUE(status) << "the checks did not finish";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "the checks failed";
}

constexpr const char* pairVariable = "PELKO_TEST_REFRESH_END_PAIR";

// GitHub answers with a new pair, which uses up the refresh token sent, and the end begins as the
// refresher reads the stored token to replace it: the pair is stored all the same.
void aPairSentAsTheEndBegins() {
    test::RoutedHttpServer server;
    server.respond(
        "POST", "/login/oauth/access_token", 200,
        R"({"access_token":"gho_new","refresh_token":"ghr_new","scope":"repo","expires_in":28800})");
    auto keychain = std::make_shared<test::HookedKeychain>(std::make_shared<SystemKeychainStore>());
    auto authManager = std::make_shared<GitAuthManager>(keychain);
    ASSERT_NO_THROW(authManager->saveToken(
        {"gho_old", "ghr_old", Date::fromSeconds(now + 10), {"repo"}, "bearer", "octocat", {}}));
    // The first load is the check's own; the second is the replacement's.
    keychain->beforeLoad = [](int number) {
        if (number == 2) ProcessEnd::begin();
    };
    auto scheduler = std::make_shared<test::ManualScheduler>();
    auto refresher = GitTokenRefresher::create(
        authManager,
        std::make_shared<CurlGitHubOAuthClient>("cid", std::nullopt, "pelko://oauth/callback",
                                                GitHubEndpoints{server.base(), server.base()}),
        scheduler, [] { return Date::fromSeconds(now); });
    refresher->start();
    scheduler->handler();
    ProcessEnd::awaitErrands();
    EXPECT_TRUE(ProcessEnd::hasBegun());
    EXPECT_EQ(server.requests("/login/oauth/access_token").size(), 1u);
}

// Fault mended: once the end had begun the keyring took nothing, so the spent pair stayed and the
// next start was signed out without a word.
TEST(RefresherEndTest, APairGitHubSentIsStoredThoughTheEndBegins) {
    const auto phase = Environment::process().get(pairVariable);
    if (phase == "end") return aPairSentAsTheEndBegins();
    if (phase == "read") return test::keyringReadBack();
    test::TempDir dir;
    EXPECT_EQ(test::keyringAfterTheEnd("RefresherEndTest.APairGitHubSentIsStoredThoughTheEndBegins",
                                       pairVariable, dir.path()),
              "gho_new ghr_new");
}

}  // namespace
}  // namespace pelko
