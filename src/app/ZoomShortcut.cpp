#include "app/ZoomShortcut.hpp"

#include <array>
#include <cstdint>

namespace pelko {
namespace {

struct ZoomKey {
    std::uint32_t keycode;  // evdev code + 8
    const char* key;
    const char* shiftedKey;
    const char* code;
};

constexpr std::array<ZoomKey, 7> zoomKeys{{
    {21, "=", "+", "Equal"},           // KEY_EQUAL
    {20, "-", "_", "Minus"},           // KEY_MINUS
    {19, "0", "0", "Digit0"},          // KEY_0
    {47, ";", "+", "Semicolon"},       // KEY_SEMICOLON
    {86, "+", "+", "NumpadAdd"},       // KEY_KPPLUS
    {82, "-", "-", "NumpadSubtract"},  // KEY_KPMINUS
    {90, "0", "0", "Numpad0"},         // KEY_KP0
}};

}  // namespace

std::optional<ZoomShortcut> ZoomShortcut::match(const KeyPress& press) {
    if (!press.control || press.alt) return std::nullopt;
    for (const auto& entry : zoomKeys) {
        if (entry.keycode == press.keycode) {
            return ZoomShortcut{press.shift ? entry.shiftedKey : entry.key, entry.code, press.shift};
        }
    }
    return std::nullopt;
}

std::string ZoomShortcut::script() const {
    return "(function() {\n"
           "  const eventInit = { key: \"" +
           key + "\", code: \"" + code + "\", metaKey: true, shiftKey: " + (shift ? "true" : "false") +
           ", ctrlKey: false, altKey: false, bubbles: true };\n"
           "  window.dispatchEvent(new KeyboardEvent(\"keydown\", eventInit));\n"
           "  window.dispatchEvent(new KeyboardEvent(\"keyup\", eventInit));\n"
           "})();";
}

}  // namespace pelko
