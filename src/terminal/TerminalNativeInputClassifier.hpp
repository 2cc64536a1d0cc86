#pragma once
// TerminalNativeInputClassifier: decides which keystrokes are plain printable ASCII text that the
// terminal may write straight to the focused session. Pure.
#include <cstdint>
#include <optional>
#include <string>

namespace pelko {

struct TerminalNativeInputClassifier {
    // The text to write, or none: for the Eisu and Kana keys, while the input source composes, with
    // control, option, command, help or function held, or unless the characters are exactly one
    // character from space to tilde.
    static std::optional<std::string> printableASCIIText(const std::optional<std::string>& characters,
                                                         std::uint64_t modifierFlags, std::uint16_t keyCode,
                                                         bool currentInputSourceRequiresComposition);
};

}  // namespace pelko
