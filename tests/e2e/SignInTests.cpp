// GitHub sign-in through the real sign-in window: the application runs on a private D-Bus session
// with a gnome-keyring of its own, GitHub's hosts point at a loopback server whose authorise page
// answers with a redirect to the callback address, and the page reports the statuses it receives.
// Signed in so, the application is also quit while GitHub's API answers without end, and while GitHub
// holds its answer to a token refresh.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "e2e/PelkoWindowFixture.hpp"
#include "git/GitTestSupport.hpp"
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

// The actions of the security log's complete lines: the logger writes on a queue of its own, so the
// page can hear of a sign-out before its line is written, or while it is half written.
std::vector<std::string> securityActions(const std::filesystem::path& log) {
    std::vector<std::string> actions;
    const std::string text = test::readFile(log);
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        auto line = json::parse(text.substr(start, end - start));
        auto action = line ? json::optString(*line, "action") : std::nullopt;
        actions.push_back(action.value_or("?"));
    }
    return actions;
}

class SignInWindowTest : public test::PelkoWindowTest {
  protected:
    void SetUp() override {
        PelkoWindowTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(keyring.ready) << "dbus-daemon or gnome-keyring-daemon could not start";
    }

    // GitHub on the loopback server: the authorise page redirects to the callback at once, with
    // `authorizeHeaders` on its answer; the exchange grants a token and the user lookup names the account.
    void routeGitHub(std::vector<std::pair<std::string, std::string>> authorizeHeaders = {}) {
        github.route(
            "GET", "/login/oauth/authorize", [authorizeHeaders](const test::HttpExchangeRequest& request) {
                auto state = urlencoding::encode(test::formFields(request.query)["state"]);
                auto headers = authorizeHeaders;
                headers.emplace_back("Location", "pelko://oauth/callback?code=e2e-code&state=" + state);
                return test::HttpExchangeResponse{302, "", headers};
            });
        github.respond("POST", "/login/oauth/access_token", 200,
                       R"({"access_token":"gho_e2eAccessSecret","refresh_token":"ghr_e2eRefreshSecret",)"
                       R"("token_type":"bearer","scope":"repo","expires_in":28800})");
        github.respond("GET", "/user", 200, R"({"login":"octocat-e2e"})");
    }
    // The application, on the keyring's bus, with GitHub's hosts at `github` unless `extra` says otherwise,
    // running the page `script`.
    std::unique_ptr<test::PelkoProcess> startOnKeyring(const char* script,
                                                       const std::string& output = "output.txt",
                                                       std::map<std::string, std::string> extra = {}) {
        writeTestPage(script);
        extra.merge(std::map<std::string, std::string>{{"DBUS_SESSION_BUS_ADDRESS", keyring.address},
                                                       {"PELKO_GITHUB_OAUTH_CLIENT_ID_DEV", "e2e-client"},
                                                       {"PELKO_GITHUB_OAUTH_BASE_URL", github.base()},
                                                       {"PELKO_GITHUB_API_BASE_URL", github.base()}});
        return start(extra, {}, output);
    }
    // Signing in through `github` as soon as its page loads.
    std::unique_ptr<test::PelkoProcess> startSigningIn(const std::string& output = "output.txt") {
        return startOnKeyring(signInScript, output);
    }

    test::RoutedHttpServer github;
    // A private bus with a gnome-keyring of its own for each test.
    test::TempDir keyringFolder;
    test::PrivateKeyring keyring{keyringFolder.path()};
};

TEST_F(SignInWindowTest, SignInThroughTheWindowStoresTheTokenAndReportsTheAccount) {
    routeGitHub();
    auto pelko = startSigningIn();
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

    const auto securityLogFile = dir / "cache/pelko/security-events.log";
    const std::vector<std::string> expectedActions{"oauthStart", "oauthSuccess", "oauthLogout"};
    EXPECT_TRUE(test::waitFor(
        [&] { return securityActions(securityLogFile).size() >= expectedActions.size(); }, 60s));
    EXPECT_EQ(securityActions(securityLogFile), expectedActions);
    auto securityLog = test::readJsonLines(securityLogFile);
    ASSERT_GE(securityLog.size(), 2u);
    EXPECT_EQ(securityLog[1]["login"], "octocat-e2e");

    const std::string written = filesUnder(dir / "cache") + output();
    EXPECT_EQ(written.find("e2eAccessSecret"), std::string::npos);
    EXPECT_EQ(written.find("e2eRefreshSecret"), std::string::npos);
}

TEST_F(SignInWindowTest, TheSignInWindowKeepsGitHubsCookiesFromOneStartToTheNext) {
    routeGitHub({{"Set-Cookie", "user_session=kept-e2e; Max-Age=86400; Path=/; HttpOnly"}});

    {
        auto first = startSigningIn();
        ASSERT_TRUE(test::waitFor([&] { return hasMessage("status disconnected - userLogout"); }, 120s))
            << output() << test::readFile(logFile());
    }  // stopped and waited for, as the user quits
    auto authorize = github.requests("/login/oauth/authorize");
    ASSERT_EQ(authorize.size(), 1u);
    EXPECT_EQ(authorize[0].header("cookie"), "");
    const auto webData = dir / "data/pelko/web-authentication";
    const auto webCache = dir / "cache/pelko/web-authentication";
    EXPECT_EQ(test::fileMode(webData), 0700u);
    EXPECT_EQ(test::fileMode(webCache), 0700u);
    EXPECT_TRUE(std::filesystem::is_regular_file(webData / "cookies.sqlite"));

    // Folders someone loosened meanwhile are private again once the window's session is made.
    for (const auto& folder : {webData, webCache})
        std::filesystem::permissions(folder, static_cast<std::filesystem::perms>(0755));
    auto second = startSigningIn("output-2.txt");
    ASSERT_TRUE(test::waitFor([&] { return github.requests("/login/oauth/authorize").size() >= 2; }, 120s))
        << test::readFile(dir / "output-2.txt") << test::readFile(logFile());
    EXPECT_EQ(github.requests("/login/oauth/authorize")[1].header("cookie"), "user_session=kept-e2e");
    EXPECT_EQ(test::fileMode(webData), 0700u);
    EXPECT_EQ(test::fileMode(webCache), 0700u);
}

// An API host that names the signed-in user at once and answers every other request so slowly that it
// never finishes: the status line, then one byte of a header every tenth of a second, until the client
// goes. No limit on silence ends such an exchange, only one on its whole length.
class TricklingServer {
  public:
    TricklingServer() : listener_(test::listenOnLoopback(16)) {
        acceptor_ = std::thread([this] {
            for (int client; (client = ::accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                std::lock_guard lock(mutex_);
                workers_.emplace_back([this, client] { trickle(client); });
            }
        });
    }
    ~TricklingServer() {
        stopping_ = true;
        ::shutdown(listener_.fd, SHUT_RDWR);
        ::close(listener_.fd);
        acceptor_.join();
        for (auto& worker : workers_) worker.join();
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(listener_.port); }
    int trickling() const { return trickling_; }

  private:
    void trickle(int client) {
        char request[4096];
        const ssize_t got = ::read(client, request, sizeof request);
        if (got > 0 && std::string_view(request, static_cast<std::size_t>(got)).starts_with("GET /user ")) {
            const std::string user = R"({"login":"octocat-e2e"})";
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(user.size()) +
                                       "\r\nConnection: close\r\n\r\n" + user;
            (void)::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::close(client);
            return;
        }
        ++trickling_;
        const std::string head = "HTTP/1.1 200 OK\r\nX-Wait: ";
        bool open = ::send(client, head.data(), head.size(), MSG_NOSIGNAL) > 0;
        while (open && !stopping_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            open = ::send(client, "a", 1, MSG_NOSIGNAL) == 1;
        }
        ::close(client);
    }

    test::LoopbackListener listener_;
    std::atomic<bool> stopping_ = false;
    std::atomic<int> trickling_ = 0;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// Quitting while GitHub's API is still answering a commit graph (on the project's sequence) and a
// history page (on the history queue): the process returns with status 0 and no report well before
// those requests' own limit of 30 s in all; they are cut off, not waited for.
TEST_F(SignInWindowTest, QuittingDuringGitHubRequestsThatNeverFinishReturnsAtOnce) {
    routeGitHub();
    TricklingServer api;
    test::writeFile(dir / "home/.gitconfig", "[user]\n\tname = Ada\n\temail = ada@example.com\n");
    test::GitRepo repo{dir / "repo"};
    repo.git({"init", "-q"});
    repo.commit("first");
    repo.git({"remote", "add", "origin", "https://127.0.0.1/octocat/hello.git"});
    config.projects.front().rootPath = repo.path().string();
    saveConfig();

    const std::string id = config.projects.front().id.string();
    const std::string page = R"(
  let started = false;
  let asked = false;
  window.__pelko__ = {
    dispatch: function (event) {
      if (event.type !== 'github/oauth/status') return;
      if (event.payload.status === 'connected' && !asked) {
        asked = true;
        post({ type: 'git/graph', payload: { projectId: ')" +
                             id + R"(' } });
        post({ type: 'git/history', payload: { projectId: ')" +
                             id + R"(', requestId: 'h' } });
      } else if (event.payload.status !== 'connected' && !started) {
        started = true;
        post({ type: 'github/oauth/start' });
      }
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";
    auto pelko = startOnKeyring(page.c_str(), "output.txt", {{"PELKO_GITHUB_API_BASE_URL", api.base()}});
    ASSERT_TRUE(test::waitFor([&] { return api.trickling() >= 2; }, 120s))
        << output() << test::readFile(logFile());

    pelko->signal(SIGTERM);
    auto status = pelko->waitForExit(15s);
    ASSERT_TRUE(status.has_value()) << "still running after SIGTERM: GitHub's answers were waited for";
    expectReturnedCleanly(*status);
}

// A gate the server's handlers wait at until the test opens it (or a minute has passed).
class Gate {
  public:
    void arrive() {
        std::unique_lock lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::seconds(60), [&] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    bool waitForArrival(std::chrono::seconds bound) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return arrived_ > 0; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrived_ = 0;
    bool open_ = false;
};

// Signed in with a token about to expire, the user quits while GitHub holds its answer to the refresh:
// the process returns at once with status 0, and the next start is still signed in, since GitHub
// refused nothing.
TEST_F(SignInWindowTest, QuittingDuringATokenRefreshKeepsTheUserSignedIn) {
    Gate refresh;
    routeGitHub();
    // Within the refresh margin, so the refresher's first check, a minute after sign-in, refreshes.
    const std::string token =
        R"({"access_token":"gho_e2eAccessSecret","refresh_token":"ghr_e2eRefreshSecret",)"
        R"("token_type":"bearer","scope":"repo","expires_in":200})";
    github.route("POST", "/login/oauth/access_token", [&](const test::HttpExchangeRequest& request) {
        if (test::formFields(request.body)["grant_type"] == "refresh_token") {
            refresh.arrive();
            return test::HttpExchangeResponse{500, "", {}};
        }
        return test::HttpExchangeResponse{200, token, {}};
    });
    const char* const signingIn = R"(
  let started = false;
  window.__pelko__ = {
    dispatch: function (event) {
      if (event.type !== 'github/oauth/status') return;
      const p = event.payload;
      log('status ' + p.status + ' ' + (p.account ? p.account.login : '-') + ' ' + (p.reason || '-'));
      if (p.status !== 'connected' && !started) {
        started = true;
        post({ type: 'github/oauth/start' });
      }
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";
    auto pelko = startOnKeyring(signingIn, "output.txt", {withoutLeakReports()});
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("status connected octocat-e2e"); }, 120s))
        << output() << test::readFile(logFile());
    ASSERT_TRUE(refresh.waitForArrival(180s)) << "no refresh came" << output();

    pelko->signal(SIGTERM);
    auto status = pelko->waitForExit(15s);
    refresh.open();
    ASSERT_TRUE(status.has_value()) << "still running after SIGTERM: the refresh was waited for";
    expectReturnedCleanly(*status);
    EXPECT_FALSE(hasMessage("status disconnected - refreshFailed"));

    const char* const reporting = R"(
  window.__pelko__ = {
    dispatch: function (event) {
      if (event.type !== 'github/oauth/status') return;
      const p = event.payload;
      log('next start ' + p.status + ' ' + (p.account ? p.account.login : '-'));
    }
  };
  (window.__pelkoPendingEvents || []).forEach(window.__pelko__.dispatch);
)";
    auto next = startOnKeyring(reporting, "output-2.txt");
    ASSERT_TRUE(test::waitFor([&] { return hasMessage("next start "); }, 120s))
        << test::readFile(dir / "output-2.txt") << test::readFile(logFile());
    EXPECT_TRUE(hasMessage("next start connected octocat-e2e")) << "the quit deleted the stored token";
    EXPECT_FALSE(hasMessage("next start disconnected")) << "the quit deleted the stored token";
}

}  // namespace
}  // namespace pelko
