#include <gtest/gtest.h>

#include <string>

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

TEST(TerminalOutputNormalizerTest, CarriageReturnRunsCollapseAcrossChunks) {
    TerminalOutputNormalizer normalizer;
    EXPECT_EQ(run(normalizer, "a\r\r\r\nb"), "a\r\nb");
    TerminalOutputNormalizer split;
    EXPECT_EQ(run(split, "a\r"), "a\r");
    EXPECT_EQ(run(split, "\rb"), "b");
}

TEST(TerminalOutputNormalizerTest, NulBytesVanishAndClearTheCarriageReturnMemory) {
    TerminalOutputNormalizer normalizer;
    EXPECT_EQ(run(normalizer, std::string("x\0y", 3)), "xy");
    EXPECT_EQ(run(normalizer, std::string("\r\0\r", 3)), "\r\r");
}

TEST(TerminalOutputNormalizerTest, PromptFillerBecomesOneCarriageReturnOnlyWithinOneChunk) {
    TerminalOutputNormalizer normalizer;
    EXPECT_EQ(run(normalizer, "a" + filler + std::string(40, ' ') + "\rprompt"), "a\rprompt");

    TerminalOutputNormalizer letter;
    // No CR after the spaces: the ESC starts a sequence that releases "ESC [" at once.
    EXPECT_EQ(run(letter, filler + "  x"), filler + "  x");

    TerminalOutputNormalizer across;
    std::string joined = run(across, filler.substr(0, 10));
    joined += run(across, filler.substr(10) + "   \r");
    EXPECT_EQ(joined, filler + "   \r");
}

TEST(TerminalOutputNormalizerTest, OscSequencesAreHeldUntilTheirTerminator) {
    TerminalOutputNormalizer normalizer;
    EXPECT_EQ(run(normalizer, "a\x1b]0;title\x07z"), "a\x1b]0;title\x07z");

    TerminalOutputNormalizer split;
    EXPECT_EQ(run(split, "a\x1b]0;ti"), "a");
    EXPECT_EQ(run(split, "tle\x07z"), "\x1b]0;title\x07z");

    TerminalOutputNormalizer stringTerminator;
    EXPECT_EQ(run(stringTerminator, "\x1b]633;x\x1bq"), "");
    EXPECT_EQ(run(stringTerminator, "y\x1b\\!"), "\x1b]633;x\x1bqy\x1b\\!");

    TerminalOutputNormalizer other;
    // An ESC that does not open an OSC releases itself and the next byte unfiltered.
    EXPECT_EQ(run(other, std::string("\x1b\0\r\r", 4)), std::string("\x1b\0\r", 3));
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
