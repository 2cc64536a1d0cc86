#pragma once
// TextInputSourceServices: the system's keyboard input sources (keyboard layouts and input methods):
// the enabled list, the current source, lookups, and selecting one.
//
// Main thread only; calls may block briefly on the input-method daemon. The production backend talks
// to the IBus daemon; when no daemon answers, `makeDefault` returns the null backend, which has no
// sources and selects nothing. Nothing here throws.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelko {

struct TextInputSource {
    std::string identifier;
    std::optional<bool> selectCapable;
    std::optional<bool> enabled;
    std::optional<bool> asciiCapable;
    std::optional<std::string> sourceType;
    std::optional<std::string> inputModeID;
    std::optional<std::string> language;

    friend bool operator==(const TextInputSource&, const TextInputSource&) = default;
};

class TextInputSourceServices {
  public:
    // Source types: a plain keyboard layout, or an input method that composes text.
    static constexpr const char* keyboardLayoutType = "keyboardLayout";
    static constexpr const char* keyboardInputModeType = "keyboardInputMode";
    // The input mode of every Japanese input method.
    static constexpr const char* japaneseInputModeID = "ibus.inputmethod.Japanese";

    virtual ~TextInputSourceServices() = default;

    // The keyboard input sources the user has enabled; nullopt when the list cannot be obtained.
    virtual std::optional<std::vector<TextInputSource>> enabledKeyboardInputSources() = 0;
    virtual std::optional<TextInputSource> currentKeyboardInputSource() = 0;
    virtual std::optional<TextInputSource> currentASCIICapableKeyboardInputSource() = 0;
    // An input source for a language code such as "ja", preferring an input method.
    virtual std::optional<TextInputSource> inputSourceForLanguage(const std::string& language) = 0;
    // True when the source is now the current one.
    virtual bool select(const TextInputSource& source) = 0;

    // The IBus backend when its daemon answers, else the null backend.
    static std::shared_ptr<TextInputSourceServices> makeDefault();
};

}  // namespace pelko
