#include "terminal/TerminalNativeInputClassifier.hpp"

#include "terminal/NativeKeyEvent.hpp"

namespace pelko {

std::optional<std::string> TerminalNativeInputClassifier::printableASCIIText(
    const std::optional<std::string>& characters, std::uint64_t modifierFlags, std::uint16_t keyCode,
    bool currentInputSourceRequiresComposition) {
    if (keyCode == NativeKeyEvent::eisuKeyCode || keyCode == NativeKeyEvent::kanaKeyCode) return std::nullopt;
    if (currentInputSourceRequiresComposition) return std::nullopt;
    if (modifierFlags & NativeKeyEvent::shortcutModifierMask) return std::nullopt;
    if (!characters || characters->empty()) return std::nullopt;
    // One scalar in 0x20...0x7E is one byte; any other text (longer, or a multi-byte scalar) is refused.
    if (characters->size() != 1) return std::nullopt;
    auto byte = static_cast<unsigned char>((*characters)[0]);
    if (byte < 0x20 || byte > 0x7E) return std::nullopt;
    return characters;
}

}  // namespace pelko
