#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>

#include <atomic>
#include <mutex>

#include "support/TestSupport.hpp"
#include "terminal/CodexShimInstaller.hpp"
#include "terminal/PTYDriver.hpp"
#include "terminal/TerminalTestSupport.hpp"

namespace pelko {
namespace {

namespace fs = std::filesystem;

const std::string startMarker = "\x1b]633;pelko-codex:start\x07";
std::string endMarker(int status) {
    return "\x1b]633;pelko-codex:end;status=" + std::to_string(status) + "\x07";
}

// Runs a command line on a pseudo-terminal with the given environment and returns all its output.
std::string runOnTerminal(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& environment, const fs::path& folder) {
    PTYDriver driver(Environment(Environment::Map(environment.begin(), environment.end())));
    auto spawned =
        driver.spawn(argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()), folder, {}, 200, 50);
    std::mutex mutex;
    std::string output;
    std::atomic<bool> exited{false};
    std::atomic<bool> drained{false};
    spawned.masterHandle->startReading([&](std::span<const std::uint8_t> chunk) {
        std::lock_guard lock(mutex);
        output.append(chunk.begin(), chunk.end());
    });
    spawned.process->setTerminationHandler([&](TerminalProcess&) { exited = true; });
    if (!test::waitFor([&] { return exited.load(); }, std::chrono::seconds(60))) {
        // A wrapper that keeps running itself must not outlive the test: end its whole group.
        kill(-spawned.process->pid(), SIGKILL);
        ADD_FAILURE() << "the command did not finish";
        test::waitFor([&] { return exited.load(); });
    }
    spawned.masterHandle->finishReading([&] { drained = true; });
    EXPECT_TRUE(test::waitFor([&] { return drained.load(); }));
    spawned.masterHandle->close();
    std::lock_guard lock(mutex);
    return output;
}

class CodexShimInstallerTest : public ::testing::Test {
  protected:
    test::TempDir root;
    fs::path home = root / "home";
    fs::path fakeBin = root / "fake-bin";

    void SetUp() override {
        fs::create_directories(home);
        test::writeFile(fakeBin / "codex", "#!/bin/sh\necho \"real codex $*\"\n");
        fs::permissions(fakeBin / "codex", fs::perms(0755));
    }
};

TEST_F(CodexShimInstallerTest, OverridesPutTheShimFirstAndAreComputedOnce) {
    CodexShimInstaller installer(root / "cache",
                                 Environment({{"HOME", home.string()}, {"PATH", "/usr/bin:/bin"}}));
    auto overrides = installer.environmentOverrides();
    EXPECT_EQ(overrides["PATH"], (root / "cache" / "codex-shims").string() + ":/usr/bin:/bin");
    EXPECT_EQ(overrides["ZDOTDIR"], (root / "cache" / "zsh-bootstrap").string());
    EXPECT_EQ(test::fileMode(installer.shimDirectory() / "codex"), 0755u);
    EXPECT_EQ(test::fileMode(installer.zshBootstrapDirectory() / ".zshrc"), 0644u);

    fs::remove(installer.shimDirectory() / "codex");
    EXPECT_EQ(installer.environmentOverrides(), overrides);
    EXPECT_FALSE(fs::exists(installer.shimDirectory() / "codex"));

    CodexShimInstaller noPath(root / "cache2", Environment({{"HOME", home.string()}}));
    EXPECT_EQ(noPath.environmentOverrides()["PATH"], (root / "cache2" / "codex-shims").string());
}

TEST_F(CodexShimInstallerTest, BootstrapRewritesOnlyChangedFiles) {
    CodexShimInstaller installer(root / "cache", Environment({{"HOME", home.string()}}));
    ASSERT_TRUE(installer.prepareZshBootstrap());
    fs::path zshrc = installer.zshBootstrapDirectory() / ".zshrc";
    auto before = fs::last_write_time(zshrc);
    fs::last_write_time(zshrc, before - std::chrono::hours(1));
    fs::remove(installer.zshBootstrapDirectory() / ".zlogin");
    ASSERT_TRUE(installer.prepareZshBootstrap());
    EXPECT_TRUE(fs::exists(installer.zshBootstrapDirectory() / ".zlogin"));
    EXPECT_EQ(fs::last_write_time(zshrc), before - std::chrono::hours(1));
    EXPECT_EQ(test::readFile(zshrc).back(), 'h');  // no final line feed

    std::string zshenv = test::readFile(installer.zshBootstrapDirectory() / ".zshenv");
    EXPECT_EQ(zshenv.find("PELKO_ZDOTDIR_RESTORED"), std::string::npos);
    EXPECT_NE(zshenv.find("\"" + (home / ".zshenv").string() + "\""), std::string::npos);

    CodexShimInstaller custom(root / "cache", Environment({{"HOME", home.string()}, {"ZDOTDIR", "~/zdot"}}));
    EXPECT_EQ(custom.originalZdotdir(), (home / "zdot").string());
}

TEST_F(CodexShimInstallerTest, EscapingKeepsQuotesDollarsAndBackticksLiteral) {
    EXPECT_EQ(CodexShimInstaller::escapeForDoubleQuotes("a\\b\"c$d`e"), "a\\\\b\\\"c\\$d\\`e");

    // A home and a caches folder whose names hold command substitutions start zsh without running them.
    fs::path weirdHome = root / "h\"$(touch PWNED1)`touch PWNED2`";
    fs::path weirdCache = root / "c$(touch PWNED3)";
    fs::create_directories(weirdHome);
    test::writeFile(weirdHome / ".zshrc", "export FROM_USER_RC=yes\n");
    Environment environment({{"HOME", weirdHome.string()}, {"PATH", fakeBin.string() + ":/usr/bin:/bin"}});
    CodexShimInstaller installer(weirdCache, environment);
    auto overrides = installer.environmentOverrides();
    std::map<std::string, std::string> childEnv{{"HOME", weirdHome.string()}, {"TERM", "dumb"}};
    childEnv.insert(overrides.begin(), overrides.end());
    test::TempDir work;
    std::string output =
        runOnTerminal({"/bin/zsh", "-l", "-i", "-c",
                       "print -r -- \"Z=$ZDOTDIR|${PATH%%:*}|$FROM_USER_RC|\"; codex --version"},
                      childEnv, work.path());
    EXPECT_NE(output.find("Z=" + weirdHome.string() + "|" + installer.shimDirectory().string() + "|yes|"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find(startMarker + "real codex --version"), std::string::npos) << output;
    EXPECT_NE(output.find(endMarker(0)), std::string::npos) << output;
    EXPECT_TRUE(fs::is_empty(work.path()));
    EXPECT_FALSE(fs::exists(root / "PWNED1"));
}

TEST_F(CodexShimInstallerTest, WrapperWithoutARealCodexEndsWith127) {
    CodexShimInstaller installer(root / "cache", Environment({{"HOME", home.string()}}));
    ASSERT_FALSE(installer.installCodexShim());
    std::string shim = (installer.shimDirectory() / "codex").string();
    std::string output = runOnTerminal(
        {"/bin/bash", shim}, {{"PATH", installer.shimDirectory().string() + ":/nowhere"}}, root.path());
    EXPECT_NE(output.find("pelko codex shim: failed to locate real codex binary"), std::string::npos)
        << output;
    EXPECT_NE(output.find(endMarker(127)), std::string::npos);
    EXPECT_EQ(output.find(startMarker), std::string::npos);
}

TEST_F(CodexShimInstallerTest, OtherSpellingsOfTheShimFolderAreSkipped) {
    CodexShimInstaller installer(root / "cache", Environment({{"HOME", home.string()}}));
    ASSERT_FALSE(installer.installCodexShim());
    fs::create_directory_symlink(installer.shimDirectory(), root / "shim-link");
    std::string path = installer.shimDirectory().string() + "/.:" + (root / "shim-link").string() + ":" +
                       installer.shimDirectory().string() + "//:" + fakeBin.string() + ":/usr/bin:/bin";
    std::string output =
        runOnTerminal({"/bin/bash", (installer.shimDirectory() / "codex").string(), "exec", "x"},
                      {{"PATH", path}}, root.path());
    EXPECT_NE(output.find(startMarker + "real codex exec x"), std::string::npos) << output;
    EXPECT_NE(output.find(endMarker(0)), std::string::npos);
}

TEST_F(CodexShimInstallerTest, WrappersOfRunsAboveAreNeverTakenForTheRealCodex) {
    CodexShimInstaller installer(root / "cache", Environment({{"HOME", home.string()}}));
    ASSERT_FALSE(installer.installCodexShim());
    std::string shim = (installer.shimDirectory() / "codex").string();
    // A fake "other installation" named by the chain is skipped: the real codex behind it runs.
    test::writeFile(root / "other" / "codex", "#!/bin/sh\necho \"other wrapper\"\n");
    fs::permissions(root / "other" / "codex", fs::perms(0755));
    std::string output = runOnTerminal({"/bin/bash", shim, "x"},
                                       {{"PATH", (root / "other").string() + ":" + fakeBin.string()},
                                        {"PELKO_CODEX_SHIM_CHAIN", "/nowhere:" + (root / "other").string()}},
                                       root.path());
    EXPECT_EQ(output.find("other wrapper"), std::string::npos) << output;
    EXPECT_NE(output.find(startMarker + "real codex x"), std::string::npos) << output;

    // Two installations' wrappers on one PATH: each runs once, then the real codex.
    CodexShimInstaller other(root / "other-cache", Environment({{"HOME", home.string()}}));
    ASSERT_FALSE(other.installCodexShim());
    output = runOnTerminal({"/bin/bash", shim, "y"},
                           {{"PATH", other.shimDirectory().string() + ":" +
                                         installer.shimDirectory().string() + ":" + fakeBin.string()}},
                           root.path());
    EXPECT_NE(output.find(startMarker + startMarker + "real codex y"), std::string::npos) << output;
    EXPECT_NE(output.find(endMarker(0) + endMarker(0)), std::string::npos) << output;

    // A chain already 17 wrappers long ends at once.
    std::string longChain = "/a";
    for (int i = 0; i < 16; ++i) longChain += ":/a";
    output = runOnTerminal({"/bin/bash", shim},
                           {{"PATH", fakeBin.string()}, {"PELKO_CODEX_SHIM_CHAIN", longChain}}, root.path());
    EXPECT_NE(output.find(endMarker(127)), std::string::npos) << output;
    EXPECT_EQ(output.find(startMarker), std::string::npos) << output;
}

}  // namespace
}  // namespace pelko
