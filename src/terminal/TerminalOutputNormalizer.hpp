#pragma once
// TerminalOutputNormalizer: the byte filter between a session's pseudo-terminal and everything that
// consumes its output. It drops NUL bytes and repeated carriage returns, collapses the shell's
// prompt filler (with its padding spaces and carriage return) into one carriage return, and holds
// each OSC sequence until its terminator (BEL or ESC "\") arrives, then emits it whole. Everything
// else passes unchanged and in order. State carries across chunks.
//
// A held sequence is bounded: past `maxHeldSequenceBytes` the held bytes are emitted as they are and
// the filter returns to its idle state, so an unterminated sequence cannot swallow a session's output
// or grow without limit. When the session's output ends, `flush` hands over what is still held, so no
// byte the shell wrote is lost. One instance per session, used by one thread at a time.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace pelko {

class TerminalOutputNormalizer {
  public:
    using Bytes = std::vector<std::uint8_t>;
    using DebugSink =
        std::function<void(std::span<const std::uint8_t> raw, std::span<const std::uint8_t> normalized)>;

    static constexpr std::size_t maxHeldSequenceBytes = std::size_t{64} * 1024;

    class OSCSequenceState {
      public:
        enum class Stage { idle, expectingBracket, readingCommand, readingBody, expectingStringTerminator };
        enum class Result { notInSequence, held, emit };

        // On `emit`, the bytes to write are in `buffer()` until the next `reset`.
        Result consume(std::uint8_t byte);
        void begin(std::uint8_t escape);
        void reset();
        Stage stage() const { return stage_; }
        const Bytes& buffer() const { return buffer_; }

      private:
        Stage stage_ = Stage::idle;
        Bytes buffer_;
    };

    // An empty chunk is returned at once without a sink call; otherwise the sink (when given) is
    // called once with the raw chunk and the result.
    Bytes normalize(std::span<const std::uint8_t> chunk, const DebugSink& debugSink = nullptr);
    // The bytes of a sequence still held, as they came (empty when none); the filter is idle after.
    // For the end of output, when nothing more can complete the sequence.
    Bytes flush();

  private:
    std::optional<std::size_t> consumePromptFiller(std::span<const std::uint8_t> chunk, std::size_t index,
                                                   Bytes& output);

    bool previousWasCarriageReturn_ = false;
    OSCSequenceState osc_;
};

}  // namespace pelko
