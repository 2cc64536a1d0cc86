// Authenticated runs against a loopback server standing in for GitHub: one that refuses every token
// with a Basic challenge, and one that takes the token and serves a real repository, where hooks and
// commits say "Authentication failed" without GitHub having refused anything.
#include <gtest/gtest.h>

#include "git/GitHttpBackend.hpp"
#include "git/GitTestSupport.hpp"
#include "platform/Base64.hpp"
#include "support/RoutedHttpServer.hpp"

namespace pelko {
namespace {

using test::GitRepo;

class GitServiceAuthTest : public ::testing::Test {
  protected:
    test::RoutedHttpServer server;
    test::GitServiceHarness h{server.base(), {{"GIT_ASKPASS", "/bin/false"}}};
    GitRepo work{h.dir / "work"};
    Uuid id;

    void SetUp() override {
        server.route("GET", "/octo/repo.git/info/refs", [](const test::HttpExchangeRequest&) {
            return test::HttpExchangeResponse{
                401, "denied", {{"WWW-Authenticate", "Basic realm=\"GitHub\""}}};
        });
        work.git({"init", "-q"});
        work.write("a.txt", "a\n");
        work.commitAll("first");
        work.git({"remote", "add", "origin", server.url("/octo/repo.git")});
        work.git({"config", "branch.main.remote", "origin"});
        work.git({"config", "branch.main.merge", "refs/heads/main"});
        id = h.projects->add(work.path());
    }

    std::vector<std::string> authorizations() const {
        std::vector<std::string> found;
        for (const auto& request : server.requests("/octo/repo.git/info/refs")) {
            if (!request.header("authorization").empty()) found.push_back(request.header("authorization"));
        }
        return found;
    }
};

TEST_F(GitServiceAuthTest, RefusedTokenIsDeletedAndReportedBeforeTheFailure) {
    h.auth->store(test::tokenRecord("gho_first"));
    h.service->push(id);
    ASSERT_TRUE(h.sink->waitForCount(2));
    auto events = h.sink->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, "github/oauth/status");
    EXPECT_EQ(
        events[0].payload,
        Json::parse(R"({"status":"disconnected","account":{"login":"octocat"},"reason":"tokenInvalid"})"));
    EXPECT_EQ(events[1].type, "git/result");
    EXPECT_EQ(events[1].payload["success"], false);
    std::string message = events[1].payload["message"];
    EXPECT_TRUE(message.starts_with("Git 認証に失敗しました。再度 GitHub にサインインしてください。\n"))
        << message;

    auto sent = authorizations();
    ASSERT_FALSE(sent.empty());
    std::string expected = "x-access-token:gho_first";
    EXPECT_EQ(sent[0], "Basic " + base64::encode(expected));
    EXPECT_EQ(h.auth->deletions(), 1);
    EXPECT_FALSE(h.auth->stored());
    // The run's credential folder is gone once git has ended.
    EXPECT_TRUE(std::filesystem::is_empty(h.dir / "credentials"));
}

TEST_F(GitServiceAuthTest, ATokenStoredWhileGitRanIsKept) {
    h.auth->store(test::tokenRecord("gho_old"));
    // Loads: the sign-in check, the run, then the check after the refusal, which finds a new token.
    h.auth->replaceOnLoad(3, test::tokenRecord("gho_new", "hubot"));
    h.service->fetch(id);
    ASSERT_TRUE(h.sink->waitForCount(1));
    h.settle();
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result"}));
    EXPECT_EQ(h.auth->deletions(), 0);
    ASSERT_TRUE(h.auth->stored());
    EXPECT_EQ(h.auth->stored()->accessToken, "gho_new");
}

TEST_F(GitServiceAuthTest, WithoutATokenNothingRuns) {
    h.service->pull(id);
    ASSERT_TRUE(h.sink->waitForCount(1));
    h.settle();
    EXPECT_EQ(h.sink->events()[0].payload,
              (Json{{"success", false}, {"message", "Pull を実行するには GitHub にサインインしてください"}}));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(GitServiceAuthTest, OtherHostsNeverGetTheToken) {
    h.auth->store(test::tokenRecord("gho_secret"));
    // The same server under another host name is not GitHub.
    std::string url = server.url("/octo/repo.git");
    url.replace(url.find("127.0.0.1"), 9, "localhost");
    work.git({"remote", "set-url", "origin", url});
    h.service->fetch(id);
    ASSERT_TRUE(h.sink->waitForCount(1));
    h.settle();
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"git/result"}));
    EXPECT_FALSE(server.requests().empty());
    EXPECT_TRUE(authorizations().empty());
    EXPECT_EQ(h.auth->deletions(), 0);
    EXPECT_FALSE(std::filesystem::exists(h.dir / "credentials"));
}

class GitServiceAcceptedTokenTest : public ::testing::Test {
  protected:
    static constexpr const char* token = "gho_good";
    test::RoutedHttpServer gitHub;
    test::GitServiceHarness h{gitHub.base(), {{"GIT_ASKPASS", "/bin/false"}}};
    GitRepo upstream{h.dir / "upstream"};
    GitRepo work{h.dir / "work"};
    Uuid id;

    void SetUp() override {
        gitHub.fallback([this](const test::HttpExchangeRequest& request) {
            if (request.header("authorization") !=
                "Basic " + base64::encode(std::string("x-access-token:") + token))
                return test::basicChallenge();
            return test::serveWithGitHttpBackend(request, h.dir / "github");
        });
        upstream.git({"init", "-q"});
        upstream.commit("first");
        upstream.git(
            {"clone", "-q", "--bare", upstream.path().string(), (h.dir / "github/octo/repo.git").string()});
        work.git({"clone", "-q", (h.dir / "github/octo/repo.git").string(), "."});
        work.git({"remote", "set-url", "origin", gitHub.url("/octo/repo.git")});
        id = h.projects->add(work.path());
        h.auth->store(test::tokenRecord(token));
    }

    // What a run that fails for a reason of the repository's own must leave: the token, unreported.
    void expectSignedIn(const std::string& quoted) {
        auto results = h.sink->payloads("git/result");
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0]["success"], false);
        // git's text holds the words a text match would have taken for GitHub's refusal.
        std::string message = results[0]["message"];
        EXPECT_NE(message.find(quoted), std::string::npos) << message;
        EXPECT_FALSE(message.starts_with("Git 認証に失敗しました")) << message;
        EXPECT_TRUE(h.sink->payloads("github/oauth/status").empty());
        EXPECT_EQ(h.auth->deletions(), 0);
        ASSERT_TRUE(h.auth->stored());
        EXPECT_EQ(h.auth->stored()->accessToken, token);
        EXPECT_TRUE(std::filesystem::is_empty(h.dir / "credentials"));
    }
};

TEST_F(GitServiceAcceptedTokenTest, AHookSayingAuthenticationFailedSignsNobodyOut) {
    work.commit("local");
    auto hook = work / ".git/hooks/pre-push";
    test::writeFile(hook,
                    "#!/bin/sh\n"
                    "echo \"fatal: Authentication failed for '$2'\" >&2\n"
                    "echo \"error: RPC failed; HTTP 401 curl 22\" >&2\n"
                    "exit 1\n");
    std::filesystem::permissions(hook, std::filesystem::perms::owner_all);
    h.service->push(id);
    ASSERT_TRUE(h.sink->waitForType("git/result"));
    h.settle();
    expectSignedIn("fatal: Authentication failed for");
    // git did reach GitHub with the token before the hook refused the push.
    EXPECT_FALSE(gitHub.requests().empty());
}

TEST_F(GitServiceAcceptedTokenTest, ARebaseStoppingOnACommitNamedAuthenticationFailedSignsNobodyOut) {
    GitRepo other{h.dir / "other"};
    other.git({"clone", "-q", (h.dir / "github/octo/repo.git").string(), "."});
    other.commit("theirs", "file.txt", "theirs\n");
    other.git({"push", "-q", "origin", "main"});
    work.commit("Authentication failed", "file.txt", "ours\n");
    h.service->pull(id);
    ASSERT_TRUE(h.sink->waitForType("git/result"));
    h.settle();
    expectSignedIn("Authentication failed");
    EXPECT_TRUE(std::filesystem::exists(work / ".git/rebase-merge") ||
                std::filesystem::exists(work / ".git/rebase-apply"));
}

// GitHub takes the token for the ref advertisement and refuses it for the push itself (revoked
// meanwhile): git erases it then too, and that refusal signs out.
TEST_F(GitServiceAcceptedTokenTest, GitHubRefusingTheTokenMidPushSignsOut) {
    work.commit("local");
    gitHub.route("POST", "/octo/repo.git/git-receive-pack",
                 [](const test::HttpExchangeRequest&) { return test::basicChallenge(); });
    h.service->push(id);
    ASSERT_TRUE(h.sink->waitForCount(2));
    h.settle();
    EXPECT_EQ(h.sink->types(), (std::vector<std::string>{"github/oauth/status", "git/result"}));
    EXPECT_EQ(
        h.sink->events()[0].payload,
        Json::parse(R"({"status":"disconnected","account":{"login":"octocat"},"reason":"tokenInvalid"})"));
    std::string message = h.sink->payloads("git/result").at(0)["message"];
    EXPECT_TRUE(message.starts_with("Git 認証に失敗しました。再度 GitHub にサインインしてください。\n"))
        << message;
    EXPECT_EQ(h.auth->deletions(), 1);
    EXPECT_FALSE(h.auth->stored());
    EXPECT_TRUE(std::filesystem::is_empty(h.dir / "credentials"));
}

}  // namespace
}  // namespace pelko
