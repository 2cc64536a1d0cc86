#include "terminal/TerminalOutputNormalizer.hpp"

#include <algorithm>
#include <array>

namespace pelko {

namespace {
constexpr std::uint8_t nul = 0x00;
constexpr std::uint8_t bel = 0x07;
constexpr std::uint8_t cr = 0x0D;
constexpr std::uint8_t esc = 0x1B;

// ESC[1m ESC[7m % ESC[27m ESC[1m ESC[0m: the filler zsh prints before a prompt after partial lines.
constexpr std::array<std::uint8_t, 22> promptFiller{0x1B, 0x5B, 0x31, 0x6D, 0x1B, 0x5B, 0x37, 0x6D,
                                                    0x25, 0x1B, 0x5B, 0x32, 0x37, 0x6D, 0x1B, 0x5B,
                                                    0x31, 0x6D, 0x1B, 0x5B, 0x30, 0x6D};
}  // namespace

void TerminalOutputNormalizer::OSCSequenceState::begin(std::uint8_t escape) {
    buffer_.clear();
    buffer_.push_back(escape);
    stage_ = Stage::expectingBracket;
}

void TerminalOutputNormalizer::OSCSequenceState::reset() {
    stage_ = Stage::idle;
    buffer_.clear();
}

TerminalOutputNormalizer::OSCSequenceState::Result TerminalOutputNormalizer::OSCSequenceState::consume(
    std::uint8_t byte) {
    if (stage_ == Stage::idle) return Result::notInSequence;
    buffer_.push_back(byte);
    Result result = Result::held;
    switch (stage_) {
        case Stage::idle:
            break;
        case Stage::expectingBracket:
            if (byte == ']') {
                stage_ = Stage::readingCommand;
            } else {
                stage_ = Stage::idle;
                result = Result::emit;
            }
            break;
        case Stage::readingCommand:
            if (byte == esc) {
                stage_ = Stage::expectingStringTerminator;
            } else if (byte == bel) {
                stage_ = Stage::idle;
                result = Result::emit;
            } else if (byte < '0' || byte > '9') {
                // ";" ends the command number; any other byte already belongs to the body.
                stage_ = Stage::readingBody;
            }
            break;
        case Stage::readingBody:
            if (byte == esc) {
                stage_ = Stage::expectingStringTerminator;
            } else if (byte == bel) {
                stage_ = Stage::idle;
                result = Result::emit;
            }
            break;
        case Stage::expectingStringTerminator:
            if (byte == '\\') {
                stage_ = Stage::idle;
                result = Result::emit;
            } else {
                stage_ = Stage::readingBody;
            }
            break;
    }
    // An unterminated sequence is released as plain bytes once it is implausibly long.
    if (result == Result::held && buffer_.size() > maxHeldSequenceBytes) {
        stage_ = Stage::idle;
        result = Result::emit;
    }
    return result;
}

std::optional<std::size_t> TerminalOutputNormalizer::consumePromptFiller(std::span<const std::uint8_t> chunk,
                                                                         std::size_t index, Bytes& output) {
    if (chunk.size() - index < promptFiller.size() + 1) return std::nullopt;
    if (!std::equal(promptFiller.begin(), promptFiller.end(),
                    chunk.begin() + static_cast<std::ptrdiff_t>(index))) {
        return std::nullopt;
    }
    std::size_t position = index + promptFiller.size();
    while (position < chunk.size() && chunk[position] == ' ') ++position;
    if (position >= chunk.size() || chunk[position] != cr) return std::nullopt;
    output.push_back(cr);
    previousWasCarriageReturn_ = true;
    return position + 1;
}

TerminalOutputNormalizer::Bytes TerminalOutputNormalizer::normalize(std::span<const std::uint8_t> chunk,
                                                                    const DebugSink& debugSink) {
    if (chunk.empty()) return {};
    Bytes output;
    output.reserve(chunk.size());
    std::size_t index = 0;
    while (index < chunk.size()) {
        if (osc_.stage() == OSCSequenceState::Stage::idle) {
            // Copy the run of ordinary bytes in one go.
            std::size_t end = index;
            while (end < chunk.size() && chunk[end] != nul && chunk[end] != cr && chunk[end] != esc) ++end;
            if (end > index) {
                output.insert(output.end(), chunk.begin() + static_cast<std::ptrdiff_t>(index),
                              chunk.begin() + static_cast<std::ptrdiff_t>(end));
                previousWasCarriageReturn_ = false;
                index = end;
                continue;
            }
        }
        std::uint8_t byte = chunk[index];
        switch (osc_.consume(byte)) {
            case OSCSequenceState::Result::held:
                ++index;
                continue;
            case OSCSequenceState::Result::emit: {
                const Bytes& held = osc_.buffer();
                output.insert(output.end(), held.begin(), held.end());
                previousWasCarriageReturn_ = !held.empty() && held.back() == cr;
                osc_.reset();
                ++index;
                continue;
            }
            case OSCSequenceState::Result::notInSequence:
                break;
        }
        if (byte == nul) {
            previousWasCarriageReturn_ = false;
        } else if (byte == cr) {
            if (!previousWasCarriageReturn_) {
                output.push_back(cr);
                previousWasCarriageReturn_ = true;
            }
        } else if (byte == esc) {
            if (auto next = consumePromptFiller(chunk, index, output)) {
                index = *next;
                continue;
            }
            osc_.begin(byte);
        } else {
            output.push_back(byte);
            previousWasCarriageReturn_ = false;
        }
        ++index;
    }
    if (debugSink) debugSink(chunk, output);
    return output;
}

TerminalOutputNormalizer::Bytes TerminalOutputNormalizer::flush() {
    Bytes held = osc_.buffer();
    osc_.reset();
    if (!held.empty()) previousWasCarriageReturn_ = held.back() == cr;
    return held;
}

}  // namespace pelko
