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

using test::RecordingDelegate;

class ScriptedSession final : public OAuthSession {
  public:
    void start() override { started = true; }
    void cancel() override { cancelled = true; }
    bool started = false;
    bool cancelled = false;
};

class ScriptedSessionFactory final : public OAuthSessionFactory {
  public:
    std::shared_ptr<OAuthSession> makeSession(const std::string& url, const std::string& callbackScheme,
                                              Completion completion) override {
        urls.push_back(url);
        schemes.push_back(callbackScheme);
        completions.push_back(std::move(completion));
        sessions.push_back(std::make_shared<ScriptedSession>());
        return sessions.back();
    }
    std::vector<std::string> urls;
    std::vector<std::string> schemes;
    std::vector<Completion> completions;
    std::vector<std::shared_ptr<ScriptedSession>> sessions;
};

std::optional<std::string> queryValue(const std::string& url, const std::string& name) {
    auto fields = test::formFields(url.substr(url.find('?') + 1));
    auto found = fields.find(name);
    if (found == fields.end()) return std::nullopt;
    return found->second;
}

class CoordinatorTest : public ::testing::Test {
  protected:
    test::RoutedHttpServer server;
    GitHubEndpoints endpoints{server.base() + "/web", server.base() + "/api"};
    std::shared_ptr<test::MemoryKeychain> keychain = std::make_shared<test::MemoryKeychain>();
    std::shared_ptr<GitAuthManager> authManager = std::make_shared<GitAuthManager>(keychain);
    std::shared_ptr<CurlGitHubOAuthClient> client =
        std::make_shared<CurlGitHubOAuthClient>("cid", std::nullopt, "pelko://oauth/callback", endpoints);
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>();
    std::shared_ptr<GitTokenRefresher> refresher = GitTokenRefresher::create(authManager, client, scheduler);
    std::shared_ptr<ScriptedSessionFactory> factory = std::make_shared<ScriptedSessionFactory>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
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
        return *queryValue(factory->urls.back(), "state");
    }
    void redirect(const std::string& query, size_t session = SIZE_MAX) {
        auto& completion =
            session == SIZE_MAX ? factory->completions.back() : factory->completions.at(session);
        completion(OAuthSessionOutcome{"pelko://oauth/callback?" + query, std::nullopt});
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
    const std::string& url = factory->urls.at(0);
    EXPECT_EQ(url.rfind(server.base() + "/web/login/oauth/authorize?client_id=cid&redirect_uri=", 0), 0u)
        << url;
    EXPECT_NE(url.find("&scope=repo%20offline_access&"), std::string::npos) << url;
    EXPECT_EQ(queryValue(url, "code_challenge_method"), "S256");
    EXPECT_EQ(queryValue(url, "redirect_uri"), "pelko://oauth/callback");
    EXPECT_EQ(queryValue(url, "code_challenge")->size(), 43u);
    EXPECT_TRUE(Uuid::parse(state));
    EXPECT_EQ(factory->schemes.at(0), "pelko");
    EXPECT_TRUE(factory->sessions.at(0)->started);
}

TEST_F(CoordinatorTest, ACallbackStoresTheAccountStartsTheRefresherAndReportsOffTheMainThread) {
    std::string state = start();
    redirect("code=abc&state=" + state);
    auto calls = delegate->waitFor(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "complete");
    EXPECT_FALSE(calls[0].onCallerThread) << "the exchange must not block the main thread";

    auto stored = authManager->loadToken();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored, calls[0].record);
    EXPECT_EQ(stored->accountLogin, "octocat");
    EXPECT_EQ(stored->expiresAt, Date::fromSeconds(1'700'003'600));
    EXPECT_TRUE(refresher->isRunning());

    // The verifier sent is the one whose challenge was in the authorise address.
    auto exchange = server.requests("/web/login/oauth/access_token").at(0).body;
    auto verifier = urlencoding::decode(exchange.substr(
        exchange.find("code_verifier=") + 14,
        exchange.find('&', exchange.find("code_verifier=")) - exchange.find("code_verifier=") - 14));
    EXPECT_EQ(GitHubOAuthCoordinator::codeChallengeS256(verifier),
              queryValue(factory->urls[0], "code_challenge"));
}

TEST_F(CoordinatorTest, RefusedCallbacksAreReportedWithoutATokenRequest) {
    struct Case {
        std::string query;  // "{state}" is the pending state
        std::string error;
    };
    const Case cases[] = {
        {"code=abc&state=OTHER", "stateMismatch"},
        {"error=access_denied&state={state}", "missingCode"},
        {"code=abc", "missingState"},
        {"code=abc&state", "missingState"},
    };
    for (const auto& c : cases) {
        size_t before = delegate->calls().size();
        std::string state = start();
        std::string query = c.query;
        if (auto at = query.find("{state}"); at != std::string::npos) query.replace(at, 7, state);
        redirect(query);
        auto calls = delegate->waitFor(before + 1);
        ASSERT_EQ(calls.size(), before + 1) << c.query;
        EXPECT_EQ(calls.back().kind, "fail") << c.query;
        EXPECT_EQ(calls.back().detail, c.error) << c.query;
    }
    EXPECT_TRUE(server.requests("/web/login/oauth/access_token").empty());
    EXPECT_FALSE(authManager->loadToken());
}

TEST_F(CoordinatorTest, AStateMismatchClearsThePendingAttempt) {
    std::string state = start();
    EXPECT_THROW(coordinator->handleCallback("pelko://oauth/callback?code=x&state=WRONG"),
                 GitHubOAuthCoordinatorError);
    try {
        coordinator->handleCallback("pelko://oauth/callback?code=x&state=" + state);
        ADD_FAILURE();
    } catch (const GitHubOAuthCoordinatorError& error) {
        EXPECT_EQ(error.code(), GitHubOAuthCoordinatorError::Code::missingState);
    }
}

TEST_F(CoordinatorTest, ANewStartClosesThePreviousWindowAndIgnoresItsCompletion) {
    std::string first = start();
    std::string second = start();
    EXPECT_TRUE(factory->sessions[0]->cancelled);
    factory->completions[0](
        OAuthSessionOutcome{std::nullopt, OAuthSessionError(OAuthSessionError::Code::cancelled)});
    redirect("code=abc&state=" + first, 0);
    redirect("code=abc&state=" + second, 1);
    auto calls = delegate->waitFor(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "complete");
}

TEST_F(CoordinatorTest, RedirectsWithoutAnOwnSchemeOpenNoWindow) {
    for (const char* redirect : {"oauth/callback", "https://example.com/callback", "HTTP://127.0.0.1/cb"}) {
        auto other = GitHubOAuthCoordinator::create({"cid", redirect, {"repo"}}, endpoints, authManager,
                                                    client, refresher, factory);
        other->setDelegate(delegate);
        size_t before = delegate->calls().size();
        other->startAuthorization(GitHubOAuthCoordinating::Initiator::user);
        auto calls = delegate->waitFor(before + 1);
        ASSERT_EQ(calls.size(), before + 1) << redirect;
        EXPECT_EQ(calls.back().detail, "invalidRedirect") << redirect;
    }
    EXPECT_TRUE(factory->urls.empty());
}

TEST_F(CoordinatorTest, ClosingTheWindowReportsCancelled) {
    start();
    factory->completions[0](
        OAuthSessionOutcome{std::nullopt, OAuthSessionError(OAuthSessionError::Code::cancelled)});
    auto calls = delegate->waitFor(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].detail, "cancelled");
}

TEST_F(CoordinatorTest, GrantVariantsShapeTheStoredRecord) {
    // No refresh token, no lifetime, a failing user lookup: stored without account, refresher stopped.
    refresher->start();
    server.respond("POST", "/web/login/oauth/access_token", 200,
                   R"({"access_token":"gho_b","scope":"repo gist"})");
    server.respond("GET", "/api/user", 500, "");
    redirect("code=abc&state=" + start());
    auto calls = delegate->waitFor(1);
    ASSERT_EQ(calls.at(0).kind, "complete");
    auto stored = authManager->loadToken();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->expiresAt, Date::distantFuture());
    EXPECT_EQ(stored->scope, (std::vector<std::string>{"gist", "repo"}));
    EXPECT_FALSE(stored->accountLogin);
    EXPECT_FALSE(refresher->isRunning());
}

TEST_F(CoordinatorTest, AKeyringThatRefusesTheTokenFailsTheSignIn) {
    keychain->refuseSaves = true;
    redirect("code=abc&state=" + start());
    auto calls = delegate->waitFor(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "fail");
    EXPECT_EQ(calls[0].detail, "keychainSaveFailed");
    EXPECT_FALSE(refresher->isRunning());
}

}  // namespace
}  // namespace pelko
