// GitCredentialBroker on the real file system (git running its script is in the authentication tests).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "git/GitCredentialBroker.hpp"
#include "git/GitCredentialBrokerError.hpp"
#include "git/GitHubWebOrigin.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/Environment.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

const GitHubWebOrigin gitHub = *GitHubWebOrigin::fromBase("https://github.com");

class GitCredentialBrokerTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::filesystem::path folder = dir / "credentials";
    GitCredentialBroker broker{folder};

    std::map<std::string, std::string> prepare(const std::string& token) {
        return broker.prepareEnvironment(token, gitHub);
    }
};

TEST_F(GitCredentialBrokerTest, WritesAPrivateScriptAndReturnsItsKeys) {
    EXPECT_FALSE(std::filesystem::exists(folder));  // nothing before the first preparation
    auto keys = prepare("gho_token");
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys["GIT_ASKPASS_REQUIRE"], "force");
    EXPECT_EQ(keys["PELKO_GITHUB_TOKEN"], "gho_token");
    EXPECT_EQ(keys["PELKO_GITHUB_SCHEME"], "https");
    EXPECT_EQ(keys["PELKO_GITHUB_HOST"], "github.com");
    EXPECT_EQ(keys["PELKO_GITHUB_PORT"], "443");
    std::filesystem::path script = keys["GIT_ASKPASS"];
    EXPECT_EQ(script.parent_path(), folder);
    EXPECT_TRUE(script.filename().string().starts_with("pelko-askpass-"));
    EXPECT_EQ(test::readFile(script), GitCredentialBroker::scriptText);
    EXPECT_EQ(test::fileMode(script), 0700u);
    EXPECT_EQ(test::fileMode(folder), 0700u);
    // The token is in the environment only.
    EXPECT_EQ(test::readFile(script).find("gho_token"), std::string::npos);
}

TEST_F(GitCredentialBrokerTest, EachRunHasItsOwnScriptAndCleanupRemovesOnlyThatOne) {
    broker.cleanup({});  // nothing to remove
    auto first = prepare("a");
    auto second = prepare("b");
    EXPECT_NE(first["GIT_ASKPASS"], second["GIT_ASKPASS"]);
    // Overlapping runs: the second run's cleanup leaves the first run's script in place.
    broker.cleanup(second);
    EXPECT_TRUE(std::filesystem::exists(first["GIT_ASKPASS"]));
    EXPECT_FALSE(std::filesystem::exists(second["GIT_ASKPASS"]));
    // A path the broker did not make, or already removed, is left alone.
    auto stranger = folder / "someone-elses";
    test::writeFile(stranger, "x");
    broker.cleanup({{"GIT_ASKPASS", stranger.string()}});
    EXPECT_TRUE(std::filesystem::exists(stranger));
    std::filesystem::remove(stranger);
    std::filesystem::remove(first["GIT_ASKPASS"]);  // someone else removed it
    broker.cleanup(first);
    broker.cleanup(prepare("c"));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(GitCredentialBrokerTest, TheScriptAnswersOnlyPromptsForGitHubsAddress) {
    auto keys = broker.prepareEnvironment("gho_secret", *GitHubWebOrigin::fromBase("https://github.com"));
    struct Row {
        const char* prompt;
        const char* answer;  // nullptr: refused
    };
    const Row rows[] = {
        {"Username for 'https://github.com': ", "x-access-token"},
        {"Password for 'https://x-access-token@github.com': ", "gho_secret"},
        {"Password for 'https://x-access-token@GitHub.com:443': ", "gho_secret"},
        {"Password for 'https://x-access-token@api.github.com': ", "gho_secret"},
        {"Password for 'http://x-access-token@github.com': ", nullptr},
        {"Password for 'https://x-access-token@github.com:8443': ", nullptr},
        {"Password for 'https://x-access-token@evil.example': ", nullptr},
        {"Password for 'https://x-access-token@github.com.evil.example': ", nullptr},
        {"Password for 'https://x-access-token@notgithub.com': ", nullptr},
        // A user name may hold any character once git has decoded it.
        {"Password for 'https://github.com/@evil.example': ", nullptr},
        {"Password for 'https://a@github.com@evil.example': ", nullptr},
        {"Password for 'https://x-access-token@evil.example/github.com': ", nullptr},
        {"Password for 'https://x-access-token@github.com/o/r.git': ", nullptr},
        {"Password for 'http://proxy.example:3128': ", nullptr},
        {"Password: ", nullptr},
    };
    for (const auto& row : rows) {
        auto environment = Environment::process().all();
        for (const auto& [key, value] : keys) environment[key] = value;
        auto result = ProcessGitProcessRunner().run({"/bin/bash", keys["GIT_ASKPASS"], row.prompt},
                                                    dir.path(), environment);
        if (row.answer) {
            EXPECT_EQ(result.status, 0) << row.prompt;
            EXPECT_EQ(result.stdout, std::string(row.answer) + "\n") << row.prompt;
        } else {
            EXPECT_NE(result.status, 0) << row.prompt;
            EXPECT_EQ(result.stdout.find("gho_secret"), std::string::npos) << row.prompt;
        }
    }
}

TEST(GitHubWebOriginTest, OnlyGitHubsSchemeHostAndPortAreGitHubs) {
    auto https = *GitHubWebOrigin::fromBase("https://github.com");
    auto loopback = *GitHubWebOrigin::fromBase("http://127.0.0.1:8080");
    struct Row {
        const GitHubWebOrigin& origin;
        const char* url;
        bool admitted;
    };
    const Row rows[] = {
        {https, "https://github.com/o/r.git", true},
        {https, "HTTPS://GitHub.com:443/o/r", true},
        {https, "https://user@api.github.com/o/r", true},
        {https, "http://github.com/o/r", false},
        {https, "https://github.com:8443/o/r", false},
        {https, "ssh://git@github.com/o/r.git", false},
        {https, "git@github.com:o/r.git", false},
        {https, "https://github.com.evil.example/o/r", false},
        {https, "https://notgithub.com/o/r", false},
        {https, "https://evil.example/github.com/o/r", false},
        {https, "https://a@b@github.com/o/r", false},
        {https, "https://github.com%2F@evil.example/o/r", false},
        {https, "https://github.com\\@evil.example/o/r", false},
        {https, "https://github.com:/o/r", false},
        {https, "https://github.com#@evil.example/o/r", false},
        {https, "https://github.com?@evil.example/o/r", false},
        {https, "https://github.com/o/r\nhttps://evil.example/", false},
        {https, "not a url", false},
        {loopback, "http://127.0.0.1:8080/o/r.git", true},
        {loopback, "http://127.0.0.1/o/r.git", false},
        {loopback, "https://127.0.0.1:8080/o/r.git", false},
    };
    for (const auto& row : rows) EXPECT_EQ(row.origin.admits(row.url), row.admitted) << row.url;
    EXPECT_EQ(https.port, 443);
    EXPECT_FALSE(GitHubWebOrigin::fromBase("ftp://github.com"));
    EXPECT_FALSE(GitHubWebOrigin::fromBase(""));
}

TEST_F(GitCredentialBrokerTest, ReplacesAFileAndRefusesALinkOrAForeignFolder) {
    test::writeFile(folder, "not a folder");
    broker.prepareEnvironment("t", gitHub);
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    // A link planted where the folder belongs is never followed.
    auto elsewhere = dir / "elsewhere";
    std::filesystem::create_directory(elsewhere);
    auto linked = dir / "linked";
    std::filesystem::create_directory_symlink(elsewhere, linked);
    GitCredentialBroker linkedBroker{linked};
    try {
        linkedBroker.prepareEnvironment("t", gitHub);
        ADD_FAILURE() << "a symbolic link was accepted";
    } catch (const GitCredentialBrokerError& error) {
        EXPECT_EQ(error.code(), GitCredentialBrokerError::Code::unsafeFolder);
        EXPECT_EQ(error.description(), "unsafeFolder");
    }
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));

    // Tests may run as root: a folder of another user is one owned by nobody.
    if (geteuid() == 0) {
        auto foreign = dir / "foreign";
        std::filesystem::create_directory(foreign);
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
        EXPECT_THROW(GitCredentialBroker{foreign}.prepareEnvironment("t", gitHub), GitCredentialBrokerError);
        EXPECT_TRUE(std::filesystem::is_empty(foreign));
    }
}

}  // namespace
}  // namespace pelko
