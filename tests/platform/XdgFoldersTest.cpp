#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/XdgFolders.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

TEST(XdgFoldersTest, UsesAbsoluteVariablesAndFallsBackToHome) {
    auto folders = XdgFolders::from(Environment({{"HOME", "/home/u"},
                                                 {"XDG_DATA_HOME", "relative/data"},
                                                 {"XDG_CACHE_HOME", "/c"},
                                                 {"XDG_RUNTIME_DIR", ""}}));
    EXPECT_EQ(folders.home, "/home/u");
    EXPECT_EQ(folders.dataHome, "/home/u/.local/share");
    EXPECT_EQ(folders.cacheHome, "/c");
    EXPECT_EQ(folders.runtimeDir, "");
    EXPECT_EQ(folders.tempDir, "/tmp");
    EXPECT_EQ(folders.appData(), "/home/u/.local/share/pelko");
    EXPECT_EQ(folders.appCache(), "/c/pelko");

    auto noHome = XdgFolders::from(Environment(Environment::Map{{"TMPDIR", "/t"}}));
    EXPECT_FALSE(noHome.home.empty());
    EXPECT_EQ(noHome.tempDir, "/t");
}

TEST(XdgFoldersTest, ProcessFoldersComeFromTheTestEnvironment) {
    const auto& folders = XdgFolders::process();
    EXPECT_EQ(folders.home, test::testRoot() / "home");
    EXPECT_EQ(folders.dataHome, test::testRoot() / "data");
    EXPECT_EQ(folders.runtimeDir, test::testRoot() / "runtime");
    EXPECT_EQ(folders.ensurePrivateRuntimeDir(), test::testRoot() / "runtime");
    EXPECT_EQ(Environment::process().nonEmpty("HOME"), (test::testRoot() / "home").string());
    EXPECT_EQ(Environment::process().get("PELKO_SURELY_UNSET"), std::nullopt);
}

TEST(XdgFoldersTest, PrivateRuntimeFolderIsCreatedWhenUnset) {
    test::TempDir dir;
    auto folders = XdgFolders::from(Environment({{"HOME", "/h"}, {"TMPDIR", dir.path().string()}}));
    fs::path runtime = folders.ensurePrivateRuntimeDir();
    ASSERT_FALSE(runtime.empty());
    EXPECT_EQ(runtime.parent_path(), dir.path());
    EXPECT_TRUE(fs::is_directory(runtime));
    EXPECT_EQ(test::fileMode(runtime), 0700u);
}

TEST(XdgFoldersDeathTest, AtExitOnlyTheRuntimeFolderThisProcessMadeIsRemoved) {
    // The forked child sees this test's folders; the exit under test is the child's.
    GTEST_FLAG_SET(death_test_style, "fast");
    test::TempDir dir;
    const fs::path temp = dir / "tmp";
    const fs::path session = dir / "session";
    fs::create_directories(temp / "pelko-runtime.other");
    fs::create_directories(session);
    struct Case {
        const char* title;
        Environment::Map environment;
    };
    const Case cases[] = {
        {"made under TMPDIR", {{"HOME", "/h"}, {"TMPDIR", temp.string()}}},
        {"the session's own",
         {{"HOME", "/h"}, {"TMPDIR", temp.string()}, {"XDG_RUNTIME_DIR", session.string()}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EXIT(
            {
                fs::path runtime = XdgFolders::from(Environment(c.environment)).ensurePrivateRuntimeDir();
                test::writeFile(runtime / "pelko-git-credentials" / "askpass", "#!/bin/sh\n");
                std::fprintf(stderr, "runtime %s\n", runtime.c_str());
                std::exit(0);
            },
            testing::ExitedWithCode(0), "runtime /");
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(temp)) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"pelko-runtime.other"});
    EXPECT_TRUE(fs::is_regular_file(session / "pelko-git-credentials" / "askpass"));
}

TEST(XdgFoldersTest, ExpandTilde) {
    EXPECT_EQ(expandTilde("~", "/home/u"), "/home/u");
    EXPECT_EQ(expandTilde("~/src/app", "/home/u"), "/home/u/src/app");
    EXPECT_EQ(expandTilde("~//etc", "/home/u"), "/home/u/etc");
    EXPECT_EQ(expandTilde("~/", "/home/u"), "/home/u/");
    EXPECT_EQ(expandTilde("~other/x", "/home/u"), "~other/x");
    EXPECT_EQ(expandTilde("/abs/~", "/home/u"), "/abs/~");
    EXPECT_EQ(expandTilde("", "/home/u"), "");
}

}  // namespace
}  // namespace pelko
