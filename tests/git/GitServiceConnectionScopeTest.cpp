// Where git connects for GitHub's remote, and whom it trusts there, when a repository's own files
// would decide it: a real HTTPS server on 127.0.0.2 with a certificate for GitHub's host name from an
// authority kept inside the repository's .git folder, which records every request. It must never see
// the token unless the user's or the system's configuration sent git there and vouched for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "git/GitHttpBackend.hpp"
#include "git/GitTestSupport.hpp"
#include "git/TlsHttpServer.hpp"

namespace pelko {
namespace {

using test::GitRepo;

constexpr const char* token = "gho_good";
constexpr const char* gitHubHost = "github.test";

// Whether any header of the request holds the token.
bool carriesToken(const test::HttpExchangeRequest& request) {
    return test::carries(request, token);
}

// The HTTPS server answers as GitHub would (the repository to whoever brings the token, a challenge to
// anyone else) and as a proxy that wants credentials.
struct World {
    test::TempDir dir;
    std::filesystem::path home = dir / "home";
    std::filesystem::path globalConfig = home / ".gitconfig";
    std::filesystem::path systemConfig = dir / "system.gitconfig";
    GitRepo work{dir / "work"};
    std::filesystem::path authority = work / ".git/pki";
    std::filesystem::path project = work.path();
    std::unique_ptr<test::TlsHttpServer> server;

    World() {
        GitRepo seed;
        seed.commit("first");
        seed.git({"clone", "-q", "--bare", seed.path().string(), (dir / "github/octo/repo.git").string()});
        work.git({"init", "-q"});
        work.commit("local");
        test::makeAuthorityAndCertificate(authority, gitHubHost);
        server = std::make_unique<test::TlsHttpServer>(
            authority / "server.pem", authority / "server.key",
            [this](const test::HttpExchangeRequest& request) {
                if (request.method == "CONNECT")
                    return test::HttpExchangeResponse{
                        407, "", {{"Proxy-Authenticate", "Basic realm=\"proxy\""}}};
                if (request.header("authorization") != test::basicToken(token)) return test::basicChallenge();
                return test::serveWithGitHttpBackend(request, dir / "github");
            });
        work.git({"remote", "add", "origin", base() + "/octo/repo.git"});
        test::writeFile(globalConfig, test::readFile(test::isolatedGitEnvironment().at("GIT_CONFIG_GLOBAL")));
        test::writeFile(systemConfig, "");
    }

    std::string hostAndPort() const { return std::string(gitHubHost) + ":" + std::to_string(server->port()); }
    std::string base() const { return "https://" + hostAndPort(); }
    // The address GitHub's name resolves to: the server's.
    std::string resolve() const { return hostAndPort() + ":127.0.0.2"; }
    std::string authorityFile() const { return (authority / "authority.pem").string(); }
    std::string proxy(const std::string& path = "") const { return "https://x@" + hostAndPort() + path; }

    void repository(const std::string& key, const std::string& value) const {
        work.git({"config", key, value});
    }
    void worktree(const std::string& key, const std::string& value) const {
        work.git({"config", "extensions.worktreeConfig", "true"});
        work.git({"config", "--worktree", key, value});
    }
    void user(const std::string& key, const std::string& value) const {
        work.git({"config", "--file", globalConfig.string(), key, value});
    }
    void system(const std::string& key, const std::string& value) const {
        work.git({"config", "--file", systemConfig.string(), key, value});
    }
    Environment::Map environment() const {
        return {{"HOME", home.string()},
                {"GIT_CONFIG_GLOBAL", globalConfig.string()},
                {"GIT_CONFIG_NOSYSTEM", "0"},
                {"GIT_CONFIG_SYSTEM", systemConfig.string()},
                {"GIT_ASKPASS", "/bin/false"}};
    }
};

struct Row {
    const char* name;
    std::function<void(World&)> arrange;
    // The fetch authenticates at the server and succeeds.
    bool succeeds = false;
    // git gets as far as the server (a proxy wanting credentials stops it before, when none are given).
    bool reachesServer = true;
};

TEST(GitServiceConnectionScopeTest, OnlyTheUsersOrTheSystemsConfigurationSendsTheTokenWhereItGoes) {
    const Row rows[] = {
        {"an authority in the worktree's configuration",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             w.worktree("http.sslCAInfo", w.authorityFile());
         }},
        {"an authority in a file the worktree's configuration includes",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             test::writeFile(w.authority / "included",
                             "[http \"" + w.base() + "\"]\n\tsslCAInfo = " + w.authorityFile() + "\n");
             w.worktree("include.path", (w.authority / "included").string());
         }},
        {"authorities in a linked worktree's configuration",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             w.work.git({"config", "extensions.worktreeConfig", "true"});
             w.project = w.dir / "linked";
             w.work.git({"worktree", "add", "-q", w.project.string()});
             GitRepo(w.project).git({"config", "--worktree", "http.sslCAPath", w.authority.string()});
         }},
        {"GitHub's name resolved by the repository",
         [](World& w) {
             w.user("http.sslCAInfo", w.authorityFile());
             w.repository("http.curloptResolve", w.resolve());
         }},
        {"a proxy, its authority and its address, all the repository's",
         [](World& w) {
             w.repository("http.proxy", w.proxy());
             w.repository("http.proxySSLCAInfo", w.authorityFile());
             w.repository("http.curloptResolve", w.resolve());
         },
         false, false},
        {"the remote's proxy named with a path by the repository",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             w.user("http.proxySSLCAInfo", w.authorityFile());
             w.repository("remote.origin.proxy", w.proxy("/octo/repo.git"));
         },
         false, false},
        {"a proxy for GitHub's address in the worktree's configuration",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             w.user("http.proxySSLCAInfo", w.authorityFile());
             w.worktree("http." + w.base() + ".proxy", w.proxy("/octo"));
         },
         false, false},
        // git asks for the credential of a proxy named with a user name; the remote's is never that.
        {"the user's own proxy at GitHub's address",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             w.user("http.proxySSLCAInfo", w.authorityFile());
             w.user("http.proxy", w.proxy());
         },
         false, false},
        {"the user's authority and address",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             w.user("http.sslCAInfo", w.authorityFile());
         },
         true},
        {"the system's authorities and the user's address",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             w.system("http.sslCAPath", w.authority.string());
         },
         true},
        {"another remote's proxy named by the repository",
         [](World& w) {
             w.user("http.curloptResolve", w.resolve());
             w.user("http.sslCAInfo", w.authorityFile());
             w.repository("remote.upstream.url", "https://example.invalid/o/r.git");
             w.repository("remote.upstream.proxy", w.proxy());
         },
         true},
    };

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        World world;
        row.arrange(world);
        test::GitServiceHarness h{world.base(), world.environment()};
        h.auth->store(test::tokenRecord(token));
        Uuid id = h.projects->add(world.project);
        h.service->fetch(id);
        ASSERT_TRUE(h.sink->waitForType("git/result"));
        h.settle();

        auto result = h.sink->payloads("git/result").at(0);
        EXPECT_EQ(result["success"], row.succeeds) << result.dump();
        auto requests = world.server->requests();
        EXPECT_EQ(std::any_of(requests.begin(), requests.end(), carriesToken), row.succeeds);
        if (row.reachesServer) {
            EXPECT_FALSE(requests.empty());
        }
        EXPECT_EQ(h.auth->deletions(), 0);
        EXPECT_TRUE(h.auth->stored());
        EXPECT_TRUE(h.sink->payloads("github/oauth/status").empty());
        EXPECT_TRUE(!std::filesystem::exists(h.dir / "credentials") ||
                    std::filesystem::is_empty(h.dir / "credentials"));
    }
}

// A proxy in the user's configuration still carries the authenticated fetch. The proxy is the loopback
// server standing in for GitHub too: it serves the requests git sends it in a proxy's absolute form.
TEST(GitServiceConnectionScopeTest, TheUsersOwnProxyKeepsTheTokenWorking) {
    test::TempDir dir;
    test::RoutedHttpServer proxy;
    proxy.fallback([&](test::HttpExchangeRequest request) {
        if (request.header("authorization") != test::basicToken(token)) return test::basicChallenge();
        if (!request.path.starts_with(proxy.base())) return test::HttpExchangeResponse{400, "", {}};
        request.path.erase(0, proxy.base().size());
        return test::serveWithGitHttpBackend(request, dir / "github");
    });
    GitRepo seed;
    seed.commit("first");
    seed.git({"clone", "-q", "--bare", seed.path().string(), (dir / "github/octo/repo.git").string()});
    GitRepo work{dir / "work"};
    work.git({"init", "-q"});
    work.git({"remote", "add", "origin", proxy.url("/octo/repo.git")});
    auto globalConfig = dir / "home/.gitconfig";
    test::writeFile(globalConfig, test::readFile(test::isolatedGitEnvironment().at("GIT_CONFIG_GLOBAL")));
    work.git({"config", "--file", globalConfig.string(), "http.proxy", proxy.base()});

    test::GitServiceHarness h{proxy.base(),
                              {{"HOME", (dir / "home").string()},
                               {"GIT_CONFIG_GLOBAL", globalConfig.string()},
                               {"GIT_ASKPASS", "/bin/false"}}};
    h.auth->store(test::tokenRecord(token));
    h.service->fetch(h.projects->add(work.path()));
    ASSERT_TRUE(h.sink->waitForType("git/result"));
    h.settle();
    EXPECT_EQ(h.sink->payloads("git/result").at(0)["success"], true);
    auto requests = proxy.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), carriesToken));
    for (const auto& request : requests) EXPECT_TRUE(request.path.starts_with("http://")) << request.path;
}

}  // namespace
}  // namespace pelko
