#pragma once
// TerminalInputModeSwitcher: finds and inspects the system's input sources for the terminal's native
// key input: the source for ASCII typing or Japanese input, and whether the current source composes
// text. Main thread only; it keeps no state beyond its services.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/TextInputSourceServices.hpp"
#include "terminal/TerminalNativeInputMode.hpp"

namespace pelko {

class TerminalInputModeSwitcher {
  public:
    explicit TerminalInputModeSwitcher(std::shared_ptr<TextInputSourceServices> services);

    std::optional<TextInputSource> inputSource(TerminalNativeInputMode mode) const;
    // Enabled keyboard sources; a source drops out only when it is explicitly not enabled.
    std::vector<TextInputSource> enabledKeyboardInputSources() const;
    static bool isSelectCapable(const TextInputSource& source);
    bool currentInputSourceRequiresComposition() const;
    bool select(const TextInputSource& source) const;

    static bool requiresComposition(std::optional<bool> isASCIICapable,
                                    const std::optional<std::string>& sourceType,
                                    const std::optional<std::string>& inputModeID);

  private:
    std::shared_ptr<TextInputSourceServices> services_;
};

}  // namespace pelko
