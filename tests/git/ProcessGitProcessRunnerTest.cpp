// ProcessGitProcessRunner with real child processes (sh through /usr/bin/env, as git is started).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

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
    auto result = sh("echo \"$LC_ALL $GIT_TERMINAL_PROMPT $PELKO_MARK\"; cat; ls /proc/$$/fd | tr '\\n' ' '",
                     environment);
    ::close(leaked);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.stdout, "C 0 kept\n0 1 2 ");
}

}  // namespace
}  // namespace pelko
