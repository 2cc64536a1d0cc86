// GitCredentialBroker on the real file system, its helper run as git runs it (push, pull and fetch
// against a loopback GitHub are in the authentication tests).
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

    GitCredentialRun prepare(const std::string& token, const GitHubWebOrigin& origin = gitHub) {
        return broker.prepareEnvironment(token, origin);
    }
    // Runs the run's helper as git does (the command after "!", through a shell, with the action as
    // its last word), `input` on its standard input.
    GitProcessExecutionResult helper(const GitCredentialRun& run, const std::string& action,
                                     const std::string& input) {
        std::string command = run.options.at(3).substr(std::string("credential.helper=!").size());
        auto environment = Environment::process().all();
        for (const auto& [key, value] : run.environment) environment[key] = value;
        return ProcessGitProcessRunner().run(
            {"/bin/sh", "-c", "printf '%s' \"$1\" | " + command + " " + action, "sh", input}, dir.path(),
            environment);
    }
};

TEST_F(GitCredentialBrokerTest, PreparesAPrivateFolderWithItsHelperAndReturnsWhatGitNeeds) {
    EXPECT_FALSE(std::filesystem::exists(folder));  // nothing before the first preparation
    auto run = prepare("gho_token");
    auto& keys = run.environment;
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys["GIT_ASKPASS_REQUIRE"], "force");
    EXPECT_EQ(keys["PELKO_GITHUB_TOKEN"], "gho_token");
    EXPECT_EQ(keys["PELKO_GITHUB_SCHEME"], "https");
    EXPECT_EQ(keys["PELKO_GITHUB_HOST"], "github.com");
    EXPECT_EQ(keys["PELKO_GITHUB_PORT"], "443");
    std::filesystem::path script = keys["GIT_ASKPASS"];
    EXPECT_EQ(script, run.folder / "credential-helper");
    EXPECT_EQ(run.folder.parent_path(), folder);
    EXPECT_TRUE(run.folder.filename().string().starts_with("pelko-run-"));
    EXPECT_EQ(run.options, (std::vector<std::string>{"-c", "credential.helper=", "-c",
                                                     "credential.helper=!'" + script.string() + "'", "-c",
                                                     "credential.useHttpPath=true"}));
    EXPECT_EQ(test::readFile(script), GitCredentialBroker::scriptText);
    EXPECT_EQ(test::fileMode(script), 0700u);
    EXPECT_EQ(test::fileMode(run.folder), 0700u);
    EXPECT_EQ(test::fileMode(folder), 0700u);
    // The token is in the environment only.
    EXPECT_EQ(test::readFile(script).find("gho_token"), std::string::npos);
    for (const auto& option : run.options) EXPECT_EQ(option.find("gho_token"), std::string::npos);
    EXPECT_FALSE(broker.wasRefused(run));
}

TEST_F(GitCredentialBrokerTest, EachRunHasItsOwnFolderAndCleanupRemovesOnlyThatOne) {
    broker.cleanup({});  // nothing to remove
    EXPECT_FALSE(broker.wasRefused({}));
    auto first = prepare("a");
    auto second = prepare("b");
    EXPECT_NE(first.folder, second.folder);
    // Overlapping runs: the second run's refusal and cleanup leave the first run alone.
    ASSERT_EQ(helper(second, "erase", "protocol=https\nhost=github.com\npassword=b\n").status, 0);
    EXPECT_TRUE(broker.wasRefused(second));
    EXPECT_FALSE(broker.wasRefused(first));
    broker.cleanup(second);
    EXPECT_FALSE(broker.wasRefused(second));
    EXPECT_TRUE(std::filesystem::exists(first.environment["GIT_ASKPASS"]));
    EXPECT_FALSE(std::filesystem::exists(second.folder));
    // A folder the broker did not make, or already removed, is left alone.
    auto stranger = folder / "someone-elses";
    std::filesystem::create_directory(stranger);
    test::writeFile(stranger / "refused", "");
    GitCredentialRun forged;
    forged.folder = stranger;
    EXPECT_FALSE(broker.wasRefused(forged));
    broker.cleanup(forged);
    EXPECT_TRUE(std::filesystem::exists(stranger / "refused"));
    std::filesystem::remove_all(stranger);
    std::filesystem::remove_all(first.folder);  // someone else removed it
    broker.cleanup(first);
    broker.cleanup(prepare("c"));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(GitCredentialBrokerTest, TheHelperGivesTheTokenOnlyForGitHubsAddress) {
    auto run = prepare("gho_secret");
    const std::string answer = "username=x-access-token\npassword=gho_secret\n";
    struct Row {
        std::string input;
        bool answered;
    };
    const Row rows[] = {
        {"protocol=https\nhost=github.com\npath=octo/repo.git\n\n", true},
        {"protocol=https\nhost=github.com\nusername=someone\npath=o/r\n",
         true},  // no blank line: EOF ends it
        {"protocol=HTTPS\nhost=GitHub.com:443\npath=o/r\n\n", true},
        {"protocol=https\nhost=api.github.com\npath=o/r\n\n", true},
        {"protocol=http\nhost=github.com\npath=o/r\n\n", false},
        {"protocol=https\nhost=github.com:8443\npath=o/r\n\n", false},
        {"protocol=https\nhost=github.com.evil.example\npath=o/r\n\n", false},
        {"protocol=https\nhost=evil.example/github.com\npath=o/r\n\n", false},
        {"protocol=https\nhost=a@github.com\npath=o/r\n\n", false},
        {"protocol=cert\npath=/home/me/client.p12\n\n", false},
        {"protocol=https\n\nhost=github.com\npath=o/r\n", false},  // after the blank line nothing counts
        {"", false},
        // What git asks for a proxy named https://x@github.com (or https://x@github.com/): no path.
        {"protocol=https\nhost=github.com\nusername=x\n\n", false},
        {"protocol=https\nhost=github.com\nusername=x\npath=\n\n", false},
        // Inputs past the bounds get nothing.
        {"protocol=https\nhost=github.com\npath=o/r\nusername=" + std::string(5000, 'u') + "\n\n", false},
        {"protocol=https\nhost=github.com\npath=o/r\n" +
             [] {
                 std::string many;
                 for (int i = 0; i < 70; ++i) many += "wwwauth[]=Basic\n";
                 return many;
             }() +
             "\n",
         false},
    };
    for (const auto& row : rows) {
        auto result = helper(run, "get", row.input);
        EXPECT_EQ(result.status, 0) << row.input.substr(0, 80);
        EXPECT_EQ(result.stdout, row.answered ? answer : "") << row.input.substr(0, 80);
    }
    // An empty token is never given.
    auto empty = prepare("");
    EXPECT_EQ(helper(empty, "get", "protocol=https\nhost=github.com\npath=o/r\n\n").stdout, "");
    // The loopback stand-in's address, port and all.
    auto loopback = prepare("gho_secret", *GitHubWebOrigin::fromBase("http://127.0.0.1:8080"));
    EXPECT_EQ(helper(loopback, "get", "protocol=http\nhost=127.0.0.1:8080\npath=o/r\n\n").stdout, answer);
    EXPECT_EQ(helper(loopback, "get", "protocol=http\nhost=127.0.0.1\npath=o/r\n\n").stdout, "");
    EXPECT_FALSE(broker.wasRefused(run));
}

TEST_F(GitCredentialBrokerTest, OnlyAnEraseOfTheCredentialItGaveIsNotedAndNothingIsStored) {
    struct Row {
        const char* action;
        const char* input;
        bool noted;
    };
    const Row rows[] = {
        {"store", "protocol=https\nhost=github.com\nusername=x-access-token\npassword=gho_secret\n", false},
        {"erase", "protocol=https\nhost=github.com\nusername=x-access-token\npassword=gho_other\n", false},
        {"erase", "protocol=https\nhost=evil.example\nusername=x-access-token\npassword=gho_secret\n", false},
        {"erase", "protocol=http\nhost=github.com\npassword=gho_secret\n", false},
        {"erase", "protocol=https\nhost=github.com\n\n", false},
        {"erase", "protocol=https\nhost=github.com\nusername=x-access-token\npassword=gho_secret\n", true},
        {"erase", "protocol=https\nhost=api.github.com:443\npassword=gho_secret\n\n", true},
    };
    for (const auto& row : rows) {
        auto run = prepare("gho_secret");
        auto result = helper(run, row.action, row.input);
        EXPECT_EQ(result.status, 0) << row.action << " " << row.input;
        EXPECT_EQ(result.stdout, "") << row.action << " " << row.input;
        EXPECT_EQ(broker.wasRefused(run), row.noted) << row.action << " " << row.input;
        // The note is the only thing ever written beside the script.
        std::size_t entries = 0;
        for (const auto& entry : std::filesystem::directory_iterator(run.folder)) {
            (void)entry;
            ++entries;
        }
        EXPECT_EQ(entries, row.noted ? 2u : 1u);
        if (row.noted) {
            EXPECT_EQ(test::readFile(run.folder / "refused"), "");
            // git may erase twice in one run; the note stands and nothing reaches git's output.
            auto again = helper(run, row.action, row.input);
            EXPECT_EQ(again.stderr, "");
            EXPECT_TRUE(broker.wasRefused(run));
        }
        broker.cleanup(run);
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(GitCredentialBrokerTest, AsAskpassEveryPromptIsRefused) {
    auto run = prepare("gho_secret");
    for (const char* prompt :
         {"Username for 'https://github.com': ", "Password for 'https://x-access-token@github.com': ",
          "Password for 'http://proxy.example:3128': ", "Password for 'cert:///home/me/client.p12': ",
          "Password: "}) {
        auto environment = Environment::process().all();
        for (const auto& [key, value] : run.environment) environment[key] = value;
        auto result =
            ProcessGitProcessRunner().run({run.environment["GIT_ASKPASS"], prompt}, dir.path(), environment);
        EXPECT_NE(result.status, 0) << prompt;
        EXPECT_EQ(result.stdout, "") << prompt;
    }
    EXPECT_FALSE(broker.wasRefused(run));
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
    broker.cleanup(broker.prepareEnvironment("t", gitHub));
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
