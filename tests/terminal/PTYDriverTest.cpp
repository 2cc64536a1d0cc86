#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "support/TestSupport.hpp"
#include "terminal/PTYDriver.hpp"
#include "terminal/TerminalProcessReaper.hpp"
#include "terminal/TerminalTestSupport.hpp"

namespace pelko {
namespace {

namespace fs = std::filesystem;

// Collects a spawned program's output and its exit.
struct Child {
    PTYProcess spawned;
    std::mutex mutex;
    std::string output;
    std::atomic<bool> exited{false};

    explicit Child(const std::string& script, const fs::path& folder = test::testRoot()) {
        static const PTYDriver driver;
        spawned = driver.spawn("/bin/sh", {"-c", script}, folder, {}, 80, 24);
        spawned.masterHandle->startReading([this](std::span<const std::uint8_t> chunk) {
            std::lock_guard lock(mutex);
            output.append(chunk.begin(), chunk.end());
        });
        spawned.process->setTerminationHandler([this](TerminalProcess&) { exited = true; });
    }
    ~Child() { spawned.masterHandle->close(); }

    std::string text() {
        std::lock_guard lock(mutex);
        return output;
    }
    bool waitForText(const std::string& needle) {
        return test::waitFor([&] { return text().find(needle) != std::string::npos; });
    }
    void type(const std::string& input) {
        ASSERT_EQ(::write(spawned.masterHandle->fd(), input.data(), input.size()),
                  static_cast<ssize_t>(input.size()));
    }
    bool waitForExit() {
        return test::waitFor([&] { return exited.load(); });
    }
};

// Whether `pid` has a child that already runs `name` (its exec is over).
bool runsChild(pid_t pid, const std::string& name) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    pid_t child = 0;
    if (!(children >> child)) return false;
    std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
    std::string text;
    return comm >> text && text == name;
}

std::size_t openDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

TEST(PTYDriverTest, ChildLeadsItsSessionOnTheSlaveInTheGivenFolder) {
    test::TempDir folder;
    Child child("echo \"sid=$(ps -o sid= -p $$ | tr -d ' ') pid=$$ tty=$(tty) cwd=$(pwd -P)\"",
                folder.path());
    ASSERT_TRUE(child.waitForExit());
    ASSERT_TRUE(child.waitForText("cwd="));
    std::string text = child.text();
    std::string pid = std::to_string(child.spawned.process->pid());
    EXPECT_NE(text.find("sid=" + pid + " pid=" + pid), std::string::npos) << text;
    EXPECT_NE(text.find("tty=/dev/pts/"), std::string::npos) << text;
    EXPECT_NE(text.find("cwd=" + fs::canonical(folder.path()).string()), std::string::npos) << text;
}

TEST(PTYDriverTest, SaneTerminalSettingsWithUtf8Input) {
    // A cooked terminal turns LF into CR LF, echoes and knows ^C and ^D.
    Child child("stty -a; echo stty-done; read line; echo \"got:$line\"");
    ASSERT_TRUE(child.waitForText("stty-done"));
    std::string settings = child.text();
    EXPECT_NE(settings.find("intr = ^C"), std::string::npos) << settings;
    EXPECT_NE(settings.find(" iutf8"), std::string::npos) << settings;
    EXPECT_NE(settings.find(" icanon"), std::string::npos) << settings;
    EXPECT_NE(settings.find(" onlcr"), std::string::npos) << settings;
    child.type("hello\n");
    EXPECT_TRUE(child.waitForText("got:hello\r\n"));
}

TEST(PTYDriverTest, ControlCInterruptsAndControlDEndsInput) {
    Child interrupted("sleep 30");
    // A ^C that reaches sh while it is still starting sleep can be lost; typed once sleep runs.
    ASSERT_TRUE(test::waitFor([&] { return runsChild(interrupted.spawned.process->pid(), "sleep"); }));
    interrupted.type("\x03");
    ASSERT_TRUE(interrupted.waitForExit());
    EXPECT_EQ(interrupted.spawned.process->terminationStatus(), -SIGINT);

    Child reading("cat; echo cat-done");
    reading.type("\x04");
    EXPECT_TRUE(reading.waitForText("cat-done"));
}

TEST(PTYDriverTest, ExitCodesAndSignalDeaths) {
    Child three("exit 3");
    ASSERT_TRUE(three.waitForExit());
    EXPECT_EQ(three.spawned.process->terminationStatus(), 3);

    Child killed("kill -9 $$");
    ASSERT_TRUE(killed.waitForExit());
    EXPECT_EQ(killed.spawned.process->terminationStatus(), -9);

    // A handler set after the exit runs at once.
    bool called = false;
    killed.spawned.process->setTerminationHandler([&](TerminalProcess&) { called = true; });
    EXPECT_TRUE(called);
    // Signalling a process that is gone is not an error.
    EXPECT_NO_THROW(
        PTYDriver::sendSignal(*killed.spawned.process, killed.spawned.masterHandle->fd(), SIGTERM));
}

TEST(PTYDriverTest, NoDescriptorAboveTwoLeaksIntoTheChild) {
    int leaky = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(leaky, 0);
    Child child("exec ls -1 /proc/self/fd");
    ASSERT_TRUE(child.waitForExit());
    close(leaky);
    test::waitFor([&] { return child.text().find("3") != std::string::npos; }, std::chrono::seconds(60));
    // ls itself holds 3 for the folder it lists.
    EXPECT_EQ(child.text(), "0\r\n1\r\n2\r\n3\r\n");
}

TEST(PTYDriverTest, EnvironmentKeepsExistingTermAndAddsMissingOnes) {
    PTYDriver bare(Environment({{"PATH", "/usr/bin:/bin"}, {"KEEP", "k"}}));
    auto env = bare.childEnvironment({{"KEEP", ""}, {"NEWEMPTY", ""}, {"X", "1"}});
    EXPECT_EQ(env["TERM"], "xterm-256color");
    EXPECT_EQ(env["COLORTERM"], "truecolor");
    EXPECT_EQ(env["PELKO_TERMINAL"], "1");
    EXPECT_EQ(env["KEEP"], "k");
    EXPECT_EQ(env.count("NEWEMPTY"), 1u);
    EXPECT_EQ(env["NEWEMPTY"], "");
    EXPECT_EQ(env["X"], "1");

    PTYDriver configured(Environment({{"TERM", "dumb"}, {"COLORTERM", ""}, {"PELKO_ZDOTDIR_RESTORED", "1"}}));
    auto kept = configured.childEnvironment({});
    EXPECT_EQ(kept["TERM"], "dumb");
    EXPECT_EQ(kept["COLORTERM"], "");
    EXPECT_EQ(kept.count("PELKO_ZDOTDIR_RESTORED"), 0u);
}

TEST(PTYDriverTest, OversizedWindowIsClampedAndFailuresCloseEveryDescriptor) {
    PTYDriver driver;
    auto spawned = driver.spawn("/bin/sh", {"-c", "sleep 5"}, test::testRoot(), {}, 70000, -3);
    winsize size{};
    ASSERT_EQ(ioctl(spawned.masterHandle->fd(), TIOCGWINSZ, &size), 0);
    EXPECT_EQ(size.ws_col, 65535);
    EXPECT_EQ(size.ws_row, 0);
    spawned.masterHandle->close();

    std::size_t before = openDescriptorCount();
    try {
        driver.spawn("/nonexistent/shell", {"-l"}, test::testRoot(), {}, 80, 24);
        FAIL() << "spawn succeeded";
    } catch (const PTYDriverError& error) {
        EXPECT_EQ(error.code(), PTYDriverError::Code::spawnFailed);
        EXPECT_EQ(error.description(), "spawnFailed(code: 2)");
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(PTYDriverTest, EndOfOutputIsDrainedAfterAFastExit) {
    Child child("head -c 20480 /dev/zero | tr '\\0' x");
    ASSERT_TRUE(child.waitForExit());
    std::atomic<bool> finished{false};
    child.spawned.masterHandle->finishReading([&] { finished = true; });
    ASSERT_TRUE(test::waitFor([&] { return finished.load(); }));
    EXPECT_EQ(child.text(), std::string(20480, 'x'));
}

}  // namespace
}  // namespace pelko
