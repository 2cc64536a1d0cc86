#pragma once
// TextInputSourceNullBackend: the input sources of a system without an input-method daemon: the list
// is empty (and obtainable), there is no current source, and nothing can be selected.
#include "platform/TextInputSourceServices.hpp"

namespace pelko {

class TextInputSourceNullBackend final : public TextInputSourceServices {
  public:
    std::optional<std::vector<TextInputSource>> enabledKeyboardInputSources() override;
    std::optional<TextInputSource> currentKeyboardInputSource() override;
    std::optional<TextInputSource> currentASCIICapableKeyboardInputSource() override;
    std::optional<TextInputSource> inputSourceForLanguage(const std::string& language) override;
    bool select(const TextInputSource& source) override;
};

}  // namespace pelko
