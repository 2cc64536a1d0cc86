#include "platform/TextInputSourceNullBackend.hpp"

namespace pelko {

std::optional<std::vector<TextInputSource>> TextInputSourceNullBackend::enabledKeyboardInputSources() {
    return std::vector<TextInputSource>{};
}

std::optional<TextInputSource> TextInputSourceNullBackend::currentKeyboardInputSource() {
    return std::nullopt;
}

std::optional<TextInputSource> TextInputSourceNullBackend::currentASCIICapableKeyboardInputSource() {
    return std::nullopt;
}

std::optional<TextInputSource> TextInputSourceNullBackend::inputSourceForLanguage(const std::string&) {
    return std::nullopt;
}

bool TextInputSourceNullBackend::select(const TextInputSource&) {
    return false;
}

}  // namespace pelko
