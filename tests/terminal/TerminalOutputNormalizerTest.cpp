#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "terminal/TerminalOutputNormalizer.hpp"

namespace pelko {
namespace {

std::string run(TerminalOutputNormalizer& normalizer, const std::string& chunk, int* sinkCalls = nullptr) {
    auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
    TerminalOutputNormalizer::DebugSink sink;
    if (sinkCalls) {
        sink = [sinkCalls](std::span<const std::uint8_t>, std::span<const std::uint8_t>) { ++*sinkCalls; };
    }
    auto out = normalizer.normalize(bytes, sink);
    return std::string(out.begin(), out.end());
}

const std::string filler = "\x1b[1m\x1b[7m%\x1b[27m\x1b[1m\x1b[0m";

// Each case feeds its chunks, in order, to one fresh normalizer and expects each chunk's output.
TEST(TerminalOutputNormalizerTest, ChunksNormalizeAsExpected) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> chunks;
    };
    const Case cases[] = {
        {"carriage-return runs collapse", {{"a\r\r\r\nb", "a\r\nb"}}},
        {"carriage-return runs collapse across chunks", {{"a\r", "a\r"}, {"\rb", "b"}}},
        {"NUL bytes vanish and clear the carriage-return memory",
         {{std::string("x\0y", 3), "xy"}, {std::string("\r\0\r", 3), "\r\r"}}},
        {"prompt filler becomes one carriage return",
         {{"a" + filler + std::string(40, ' ') + "\rprompt", "a\rprompt"}}},
        // No CR after the spaces: the ESC starts a sequence that releases "ESC [" at once.
        {"filler without a carriage return stays", {{filler + "  x", filler + "  x"}}},
        {"OSC in one chunk", {{"a\x1b]0;title\x07z", "a\x1b]0;title\x07z"}}},
        {"OSC held until its terminator", {{"a\x1b]0;ti", "a"}, {"tle\x07z", "\x1b]0;title\x07z"}}},
        {"OSC ended by ESC backslash", {{"\x1b]633;x\x1bq", ""}, {"y\x1b\\!", "\x1b]633;x\x1bqy\x1b\\!"}}},
        // An ESC that does not open an OSC releases itself and the next byte unfiltered.
        {"other escape", {{std::string("\x1b\0\r\r", 4), std::string("\x1b\0\r", 3)}}},
    };
    for (const auto& c : cases) {
        TerminalOutputNormalizer normalizer;
        for (const auto& [in, out] : c.chunks) EXPECT_EQ(run(normalizer, in), out) << c.what;
    }

    // Filler split over two chunks is only filler within one chunk.
    TerminalOutputNormalizer across;
    std::string joined = run(across, filler.substr(0, 10));
    joined += run(across, filler.substr(10) + "   \r");
    EXPECT_EQ(joined, filler + "   \r");
}

TEST(TerminalOutputNormalizerTest, UnterminatedSequenceIsReleasedPast64KiB) {
    TerminalOutputNormalizer normalizer;
    std::string body(TerminalOutputNormalizer::maxHeldSequenceBytes, 'b');
    EXPECT_EQ(run(normalizer, "\x1b]0;"), "");
    std::string released = run(normalizer, body + "after");
    // Everything held comes out as it was, and output flows again.
    EXPECT_EQ(released, "\x1b]0;" + body + "after");
    EXPECT_EQ(run(normalizer, "\x1b]0;t\x07"), "\x1b]0;t\x07");
}

TEST(TerminalOutputNormalizerTest, DebugSinkSeesEveryNonEmptyChunk) {
    TerminalOutputNormalizer normalizer;
    int calls = 0;
    EXPECT_EQ(run(normalizer, "", &calls), "");
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(run(normalizer, std::string(3, '\0'), &calls), "");
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace pelko
