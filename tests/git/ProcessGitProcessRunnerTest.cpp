// ProcessGitProcessRunner with real child processes (sh through /usr/bin/env, as git is started).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "git/GitOutputText.hpp"
#include "git/ProcessGitProcessRunner.hpp"
#include "platform/Environment.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

class ProcessGitProcessRunnerTest : public ::testing::Test {
  protected:
    ProcessGitProcessRunner runner;
    test::TempDir dir;

    GitProcessExecutionResult sh(const std::string& script,
                                 Environment::Map environment = Environment::process().all()) {
        return runner.run({"sh", "-c", script}, dir.path(), environment);
    }
};

TEST_F(ProcessGitProcessRunnerTest, StatusAndBothStreamsDecodedLossily) {
    auto result = sh("printf 'caf\\351 ok'; printf 'warn\\377' >&2; exit 3");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.stdout, "caf\xEF\xBF\xBD ok");
    EXPECT_EQ(result.stderr, "warn\xEF\xBF\xBD");
    EXPECT_EQ(sh("kill -9 $$").status, 128 + 9);
    EXPECT_EQ(runner.run({"git", "status"}, dir / "missing", Environment::process().all()).status, -1);
}

TEST_F(ProcessGitProcessRunnerTest, LargeInterleavedOutputOnBothStreamsCompletes) {
    // Each burst is far beyond a pipe's capacity: reading one stream to its end first would deadlock.
    auto result =
        sh("head -c 3000000 /dev/zero | tr '\\0' a; head -c 3000000 /dev/zero | tr '\\0' b >&2;"
           "echo tail; echo end >&2");
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.stdout.size(), 3000005u);
    EXPECT_EQ(result.stdout.find_first_not_of('a'), 3000000u);
    EXPECT_EQ(result.stdout.substr(3000000), "tail\n");
    EXPECT_TRUE(result.stderr.ends_with("bbbend\n"));
}

// The most this process has had resident since `resetPeak` (VmHWM), in KiB.
std::int64_t peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) return std::stoll(line.substr(6));
    }
    return -1;
}
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

TEST_F(ProcessGitProcessRunnerTest, StandardErrorKeepsItsEndsAndItsSize) {
    const std::size_t end = ProcessGitProcessRunner::keptStderrEnd;
    // 1 GiB between a first and a last line: read to its end, kept only at its ends.
    resetPeak();
    const std::int64_t before = peakResidentKiB();
    auto result =
        sh("echo first >&2; head -c 1073741824 /dev/zero | tr '\\0' x >&2; printf '\\nfatal: last\\n' >&2");
    const std::int64_t growth = peakResidentKiB() - before;
    EXPECT_EQ(result.status, 0);
    EXPECT_LT(growth, 32 * 1024) << "KiB";
    EXPECT_LE(result.stderr.size(), 2 * end + 64);
    EXPECT_TRUE(result.stderr.starts_with("first\nxxx"));
    const std::string note =
        "xxx\n\u2026 (cut, " + std::to_string(6 + 1073741824 + 13) + " bytes in all)\nxxx";
    EXPECT_NE(result.stderr.find(note), std::string::npos);
    EXPECT_TRUE(result.stderr.ends_with("xxx\nfatal: last\n"));

    // Cuts that fall inside "é" move to the character's edges; no replacement character appears.
    std::string head(end - 1, 'a');
    std::string tail(end - 1, 'b');
    result = sh("printf '%s\\303\\251' " + head +
                " >&2; head -c 100000 /dev/zero >&2; printf '\\303\\251%s' " + tail + " >&2");
    EXPECT_EQ(result.stderr,
              head + "\n\u2026 (cut, " + std::to_string(2 * end + 100002) + " bytes in all)\n" + tail);

    // The line of a limit met still comes last.
    GitProcessLimits limits;
    limits.maxStdout = 10;
    result =
        runner.runWithin({"sh", "-c", "head -c 1000000 /dev/zero | tr '\\0' e >&2; head -c 100 /dev/zero"},
                         dir.path(), Environment::process().all(), limits);
    // (How much of standard error was read before the run ended depends on timing.)
    EXPECT_NE(result.stderr.find(" bytes in all)\neee"), std::string::npos);
    EXPECT_TRUE(result.stderr.ends_with("eee\nfatal: standard output over 10 bytes"));
}

TEST(ProcessGitProcessRunnerDecodeTest, ReplacesEachMaximalInvalidSequence) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"plain ascii", "plain ascii"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"},    // valid Japanese
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                    // valid 4-byte
        {"a\xE6\x97", "a" + fffd},                                   // truncated at the end
        {"\xE6\x97x", fffd + "x"},                                   // truncated in the middle
        {"\xC0\xAF", fffd + fffd},                                   // overlong lead
        {"\xED\xA0\x80", fffd + fffd + fffd},                        // surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},             // beyond U+10FFFF
        {"\x80\xBF", fffd + fffd},                                   // stray continuations
        {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},  // NUL is valid
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProcessGitProcessRunner::decodeLossy(c.input), c.expected) << c.input;
    }
}

TEST_F(ProcessGitProcessRunnerTest, ChildGetsCLocaleNoPromptNoStdinAndNoInheritedDescriptors) {
    auto environment = Environment::process().all();
    environment["LC_ALL"] = "de_DE.UTF-8";
    environment["GIT_TERMINAL_PROMPT"] = "1";
    environment["PELKO_MARK"] = "kept";
    // A descriptor without close-on-exec, as another library might leave one.
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    // The shell's descriptors, listed by a plain command: a pipeline would have the shell hold its pipe
    // while the list is made.
    auto result = sh("echo \"$LC_ALL $GIT_TERMINAL_PROMPT $PELKO_MARK\"; cat; ls /proc/$$/fd", environment);
    ::close(leaked);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.stdout, "C 0 kept\n0\n1\n2\n");
}

// The child reads its input while the runner reads what it writes: far beyond a pipe's capacity both
// ways, which a write-all-then-read runner would deadlock on. A child that never reads its input, or
// stops half-way, only ends the writing (no SIGPIPE here).
TEST_F(ProcessGitProcessRunnerTest, StandardInputIsWrittenWhileTheOutputsAreRead) {
    std::string input;
    for (int i = 0; input.size() < 3'000'000; ++i) input += "line " + std::to_string(i) + "\n";
    auto echoed = runner.runWithInput({"sh", "-c", "cat; cat /dev/null >&2"}, dir.path(),
                                      Environment::process().all(), input, {});
    EXPECT_EQ(echoed.status, 0);
    EXPECT_EQ(echoed.stdout.size(), input.size());
    EXPECT_TRUE(echoed.stdout == input);

    auto ignoring = runner.runWithInput({"sh", "-c", "echo ignored"}, dir.path(),
                                        Environment::process().all(), input, {});
    EXPECT_EQ(ignoring.status, 0);
    EXPECT_EQ(ignoring.stdout, "ignored\n");
    auto partial =
        runner.runWithInput({"sh", "-c", "head -c 10"}, dir.path(), Environment::process().all(), input, {});
    EXPECT_EQ(partial.status, 0);
    EXPECT_EQ(partial.stdout, input.substr(0, 10));
    // Empty input is an immediate end of file, not /dev/null's absence.
    auto empty = runner.runWithInput({"sh", "-c", "wc -c"}, dir.path(), Environment::process().all(),
                                     std::string(), {});
    EXPECT_EQ(GitOutputText::trim(empty.stdout), "0");
}

// Stopping ends a running child and whatever it started (the group), wakes its reader even while a
// stray descendant outside the group still holds the pipes, and refuses later runs.
TEST_F(ProcessGitProcessRunnerTest, StopAllEndsRunningChildrenAndRefusesNewOnes) {
    auto started = dir / "started";
    auto result = std::async(std::launch::async, [&] {
        return runner.run(
            {"sh", "-c", "sleep 600 & setsid sleep 600 & echo $! > '" + started.string() + "'; wait"},
            dir.path(), Environment::process().all());
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(started) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(std::filesystem::exists(started));
    runner.stopAll();
    auto stopped = result.get();
    EXPECT_EQ(stopped.status, 128 + 9);
    EXPECT_TRUE(stopped.stderr.ends_with("fatal: stopped: the application is ending")) << stopped.stderr;
    auto later = runner.run({"sh", "-c", "echo never"}, dir.path(), Environment::process().all());
    EXPECT_EQ(later.status, -1);
    EXPECT_EQ(later.stdout, "");
    // The one outside the group is ours to end.
    std::string strayPid(GitOutputText::trim(test::readFile(started)));
    if (!strayPid.empty()) ::kill(std::stoi(strayPid), SIGKILL);
}

}  // namespace
}  // namespace pelko
