#include "terminal/TerminalInputModeSwitcher.hpp"

namespace pelko {

TerminalInputModeSwitcher::TerminalInputModeSwitcher(std::shared_ptr<TextInputSourceServices> services)
    : services_(std::move(services)) {}

std::vector<TextInputSource> TerminalInputModeSwitcher::enabledKeyboardInputSources() const {
    std::vector<TextInputSource> result;
    for (auto& source : services_->enabledKeyboardInputSources().value_or(std::vector<TextInputSource>{})) {
        if (source.enabled == false) continue;
        result.push_back(std::move(source));
    }
    return result;
}

bool TerminalInputModeSwitcher::isSelectCapable(const TextInputSource& source) {
    return source.selectCapable.value_or(false);
}

std::optional<TextInputSource> TerminalInputModeSwitcher::inputSource(TerminalNativeInputMode mode) const {
    if (mode == TerminalNativeInputMode::ascii) {
        if (auto current = services_->currentASCIICapableKeyboardInputSource();
            current && isSelectCapable(*current)) {
            return current;
        }
        for (const auto& source : enabledKeyboardInputSources()) {
            if (isSelectCapable(source) && source.asciiCapable.value_or(false)) return source;
        }
        return std::nullopt;
    }
    if (auto japanese = services_->inputSourceForLanguage("ja"); japanese && isSelectCapable(*japanese)) {
        return japanese;
    }
    for (const auto& source : enabledKeyboardInputSources()) {
        if (isSelectCapable(source) &&
            source.inputModeID == std::string(TextInputSourceServices::japaneseInputModeID)) {
            return source;
        }
    }
    return std::nullopt;
}

bool TerminalInputModeSwitcher::currentInputSourceRequiresComposition() const {
    auto current = services_->currentKeyboardInputSource();
    if (!current) return false;
    return requiresComposition(current->asciiCapable, current->sourceType, current->inputModeID);
}

bool TerminalInputModeSwitcher::select(const TextInputSource& source) const {
    return services_->select(source);
}

bool TerminalInputModeSwitcher::requiresComposition(std::optional<bool> isASCIICapable,
                                                    const std::optional<std::string>& sourceType,
                                                    const std::optional<std::string>& inputModeID) {
    if (isASCIICapable) return !*isASCIICapable;
    if (sourceType == std::string(TextInputSourceServices::keyboardInputModeType)) return true;
    return inputModeID.has_value();
}

}  // namespace pelko
