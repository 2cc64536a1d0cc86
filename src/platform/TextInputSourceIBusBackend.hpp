#pragma once
// TextInputSourceIBusBackend: the input sources of the IBus daemon. Keyboard layouts ("xkb:" engines)
// are plain layouts, ASCII-capable unless their layout writes another script; every other engine is
// an input method that composes text (Japanese ones with the Japanese input mode). Selecting sets
// IBus's global engine. Main thread only; each call is a short synchronous D-Bus exchange.
#include <memory>

#include "platform/TextInputSourceServices.hpp"

namespace pelko {

class TextInputSourceIBusBackend final : public TextInputSourceServices {
  public:
    // Null when no IBus daemon answers.
    static std::shared_ptr<TextInputSourceIBusBackend> connect();
    ~TextInputSourceIBusBackend() override;

    std::optional<std::vector<TextInputSource>> enabledKeyboardInputSources() override;
    std::optional<TextInputSource> currentKeyboardInputSource() override;
    std::optional<TextInputSource> currentASCIICapableKeyboardInputSource() override;
    std::optional<TextInputSource> inputSourceForLanguage(const std::string& language) override;
    bool select(const TextInputSource& source) override;

    // How an engine (name, language, layout) appears as a source.
    static TextInputSource describe(const std::string& name, const std::string& language,
                                    const std::string& layout);

  private:
    explicit TextInputSourceIBusBackend(void* bus) : bus_(bus) {}
    void* bus_;
};

}  // namespace pelko
