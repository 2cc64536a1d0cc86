// GitHubOAuthCoordinator with a scripted browser session, the real OAuth client against a loopback
// server, an in-memory keyring and a refresher on a manual scheduler.
#include <gtest/gtest.h>

#include "github/CurlGitHubOAuthClient.hpp"
#include "github/GitHubOAuthCoordinator.hpp"
#include "github/GitHubOAuthCoordinatorError.hpp"
#include "github/GitHubTestSupport.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

// A browser session that the test ends by calling its completion.
struct ScriptedSession final : OAuthSession {
    void start() override { started = true; }
    void cancel() override { cancelled = true; }
    std::string url;
    OAuthSessionFactory::Completion completion;
    bool started = false;
    bool cancelled = false;
};

struct ScriptedSessionFactory final : OAuthSessionFactory {
    std::shared_ptr<OAuthSession> makeSession(const std::string& url, const std::string&,
                                              Completion completion) override {
        sessions.push_back(std::make_shared<ScriptedSession>());
        sessions.back()->url = url;
        sessions.back()->completion = std::move(completion);
        return sessions.back();
    }
    std::vector<std::shared_ptr<ScriptedSession>> sessions;
};

std::string queryValue(const std::string& url, const std::string& name) {
    return test::formFields(url.substr(url.find('?') + 1))[name];
}

class CoordinatorTest : public ::testing::Test {
  protected:
    test::RoutedHttpServer server;
    GitHubEndpoints endpoints{server.base() + "/web", server.base() + "/api"};
    std::shared_ptr<test::MemoryKeychain> keychain = std::make_shared<test::MemoryKeychain>();
    std::shared_ptr<GitAuthManager> authManager = std::make_shared<GitAuthManager>(keychain);
    std::shared_ptr<CurlGitHubOAuthClient> client =
        std::make_shared<CurlGitHubOAuthClient>("cid", std::nullopt, "pelko://oauth/callback", endpoints);
    std::shared_ptr<GitTokenRefresher> refresher =
        GitTokenRefresher::create(authManager, client, std::make_shared<test::ManualScheduler>());
    std::shared_ptr<ScriptedSessionFactory> factory = std::make_shared<ScriptedSessionFactory>();
    std::shared_ptr<test::RecordingDelegate> delegate = std::make_shared<test::RecordingDelegate>();
    std::shared_ptr<GitHubOAuthCoordinator> coordinator;

    void SetUp() override {
        coordinator = GitHubOAuthCoordinator::create({"cid", "pelko://oauth/callback", {"repo", "", "repo"}},
                                                     endpoints, authManager, client, refresher, factory,
                                                     [] { return Date::fromSeconds(1'700'000'000); });
        coordinator->setDelegate(delegate);
        server.respond(
            "POST", "/web/login/oauth/access_token", 200,
            R"({"access_token":"gho_a","refresh_token":"ghr_r","scope":"repo","expires_in":3600})");
        server.respond("GET", "/api/user", 200,
                       R"({"login":"octocat","avatar_url":"https://a.example/o.png"})");
    }

    std::string start() {
        coordinator->startAuthorization(GitHubOAuthCoordinating::Initiator::user);
        return queryValue(factory->sessions.back()->url, "state");
    }
    // Ends a window (the latest by default): at the callback with `query`, or closed by the user.
    void finish(std::optional<std::string> query, size_t session = SIZE_MAX) {
        auto& target = session == SIZE_MAX ? factory->sessions.back() : factory->sessions.at(session);
        target->completion(
            query ? OAuthSessionOutcome{"pelko://oauth/callback?" + *query, std::nullopt}
                  : OAuthSessionOutcome{std::nullopt, OAuthSessionError(OAuthSessionError::Code::cancelled)});
    }
};

TEST(PkceTest, ChallengeIsTheRfc7636AppendixBTransformAndVerifiersAreUrlSafe) {
    EXPECT_EQ(GitHubOAuthCoordinator::codeChallengeS256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
              "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
    auto first = GitHubOAuthCoordinator::randomCodeVerifier();
    EXPECT_EQ(first.size(), 43u);
    EXPECT_EQ(first.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    EXPECT_NE(first, GitHubOAuthCoordinator::randomCodeVerifier());
}

TEST_F(CoordinatorTest, OpensTheAuthorizeAddressWithStateAndChallenge) {
    std::string state = start();
    const auto& session = *factory->sessions.at(0);
    std::string challenge = queryValue(session.url, "code_challenge");
    EXPECT_EQ(session.url,
              server.base() +
                  "/web/login/oauth/authorize?client_id=cid&redirect_uri=pelko%3A%2F%2Foauth%2Fcallback"
                  "&scope=repo%20offline_access&state=" +
                  state + "&code_challenge=" + challenge + "&code_challenge_method=S256");
    EXPECT_EQ(challenge.size(), 43u);
    EXPECT_TRUE(Uuid::parse(state));
    EXPECT_TRUE(session.started);
}

TEST_F(CoordinatorTest, ACallbackStoresTheAccountStartsTheRefresherAndReportsOffTheMainThread) {
    finish("code=abc&state=" + start());
    ASSERT_EQ(delegate->calls(1), (std::vector<std::string>{"complete"}));
    EXPECT_FALSE(delegate->lastOnTestThread) << "the exchange must not block the main thread";

    auto stored = authManager->loadToken();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored, delegate->record);
    EXPECT_EQ(stored->accountLogin, "octocat");
    EXPECT_EQ(stored->expiresAt, Date::fromSeconds(1'700'003'600));
    EXPECT_TRUE(refresher->isRunning());
}

TEST_F(CoordinatorTest, RefusedCallbacksAndAClosedWindowAreReportedWithoutATokenRequest) {
    struct Case {
        std::optional<std::string> query;  // "{state}" is the pending state; none: the user closes the window
        std::string error;
    };
    const Case cases[] = {
        {std::nullopt, "cancelled"},
        {"code=abc&state=OTHER", "stateMismatch"},
        {"error=access_denied&state={state}", "missingCode"},
        {"code=abc", "missingState"},
        {"code=abc&state", "missingState"},
    };
    std::vector<std::string> expected;
    for (auto c : cases) {
        std::string state = start();
        if (auto at = c.query.value_or("").find("{state}"); at != std::string::npos)
            c.query->replace(at, 7, state);
        finish(c.query);
        expected.push_back("fail " + c.error);
        delegate->calls(expected.size());
    }
    EXPECT_EQ(delegate->calls(), expected);
    EXPECT_TRUE(server.requests("/web/login/oauth/access_token").empty());
    EXPECT_FALSE(authManager->loadToken());
}

TEST_F(CoordinatorTest, ANewStartClosesThePreviousWindowAndIgnoresItsCompletion) {
    std::string first = start();
    std::string second = start();
    EXPECT_TRUE(factory->sessions[0]->cancelled);
    finish(std::nullopt, 0);
    finish("code=abc&state=" + first, 0);
    finish("code=abc&state=" + second, 1);
    EXPECT_EQ(delegate->calls(1), (std::vector<std::string>{"complete"}));
}

TEST_F(CoordinatorTest, RedirectsWithoutAnOwnSchemeOpenNoWindow) {
    const char* redirects[] = {"oauth/callback", "https://example.com/callback", "HTTP://127.0.0.1/cb"};
    for (const char* redirect : redirects) {
        auto other = GitHubOAuthCoordinator::create({"cid", redirect, {"repo"}}, endpoints, authManager,
                                                    client, refresher, factory);
        other->setDelegate(delegate);
        other->startAuthorization(GitHubOAuthCoordinating::Initiator::user);
    }
    EXPECT_EQ(delegate->calls(3), std::vector<std::string>(3, "fail invalidRedirect"));
    EXPECT_TRUE(factory->sessions.empty());
}

TEST_F(CoordinatorTest, GrantVariantsShapeTheStoredRecord) {
    // No refresh token, no lifetime, a failing user lookup: stored without account, refresher stopped.
    refresher->start();
    server.respond("POST", "/web/login/oauth/access_token", 200,
                   R"({"access_token":"gho_b","scope":"repo gist"})");
    server.respond("GET", "/api/user", 500, "");
    finish("code=abc&state=" + start());
    ASSERT_EQ(delegate->calls(1), (std::vector<std::string>{"complete"}));
    auto stored = authManager->loadToken();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->expiresAt, Date::distantFuture());
    EXPECT_FALSE(stored->accountLogin);
    EXPECT_FALSE(refresher->isRunning());
}

TEST_F(CoordinatorTest, AKeyringThatRefusesTheTokenFailsTheSignIn) {
    keychain->refuseSaves = true;
    finish("code=abc&state=" + start());
    EXPECT_EQ(delegate->calls(1), (std::vector<std::string>{"fail keychainSaveFailed"}));
    EXPECT_FALSE(refresher->isRunning());
}

}  // namespace
}  // namespace pelko
