// GitCredentialBroker on the real file system (git running its script is in the authentication tests).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "git/GitCredentialBroker.hpp"
#include "git/GitCredentialBrokerError.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

class GitCredentialBrokerTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::filesystem::path folder = dir / "credentials";
    GitCredentialBroker broker{folder};
};

TEST_F(GitCredentialBrokerTest, WritesAPrivateScriptAndReturnsItsThreeKeys) {
    EXPECT_FALSE(std::filesystem::exists(folder));  // nothing before the first preparation
    auto keys = broker.prepareEnvironment("gho_token");
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys["GIT_ASKPASS_REQUIRE"], "force");
    EXPECT_EQ(keys["PELKO_GITHUB_TOKEN"], "gho_token");
    std::filesystem::path script = keys["GIT_ASKPASS"];
    EXPECT_EQ(script.parent_path(), folder);
    EXPECT_TRUE(script.filename().string().starts_with("pelko-askpass-"));
    EXPECT_EQ(test::readFile(script), GitCredentialBroker::scriptText);
    EXPECT_EQ(test::fileMode(script), 0700u);
    EXPECT_EQ(test::fileMode(folder), 0700u);
    // The token is in the environment only.
    EXPECT_EQ(test::readFile(script).find("gho_token"), std::string::npos);
}

TEST_F(GitCredentialBrokerTest, KeepsOneScriptAndCleansUpQuietly) {
    broker.cleanup();  // nothing to remove
    auto first = broker.prepareEnvironment("a")["GIT_ASKPASS"];
    auto second = broker.prepareEnvironment("b")["GIT_ASKPASS"];
    EXPECT_NE(first, second);
    EXPECT_FALSE(std::filesystem::exists(first));
    std::filesystem::remove(second);  // someone else removed it
    broker.cleanup();
    broker.prepareEnvironment("c");
    broker.cleanup();
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(GitCredentialBrokerTest, ReplacesAFileAndRefusesALinkOrAForeignFolder) {
    test::writeFile(folder, "not a folder");
    broker.prepareEnvironment("t");
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    // A link planted where the folder belongs is never followed.
    auto elsewhere = dir / "elsewhere";
    std::filesystem::create_directory(elsewhere);
    auto linked = dir / "linked";
    std::filesystem::create_directory_symlink(elsewhere, linked);
    GitCredentialBroker linkedBroker{linked};
    try {
        linkedBroker.prepareEnvironment("t");
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
        EXPECT_THROW(GitCredentialBroker{foreign}.prepareEnvironment("t"), GitCredentialBrokerError);
        EXPECT_TRUE(std::filesystem::is_empty(foreign));
    }
}

}  // namespace
}  // namespace pelko
