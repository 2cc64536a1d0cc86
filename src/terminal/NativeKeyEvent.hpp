#pragma once
// NativeKeyEvent: one key-down event of the window as the terminal's native input sees it, free of
// any toolkit type. `fromGdk` turns GDK's integers (key value, hardware key code, modifier state)
// into it; it is pure, so it can be tested without a display.
//
// Key codes follow the JIS keyboard convention the terminal relies on: 102 is the Eisu key and 104
// the Kana key; other keys carry their hardware key code. Modifier flags use the bits below.
#include <cstdint>
#include <optional>
#include <string>

namespace pelko {

struct NativeKeyEvent {
    static constexpr std::uint16_t eisuKeyCode = 102;
    static constexpr std::uint16_t kanaKeyCode = 104;

    static constexpr std::uint64_t capsLockFlag = 0x10000;
    static constexpr std::uint64_t shiftFlag = 0x20000;
    static constexpr std::uint64_t controlFlag = 0x40000;
    static constexpr std::uint64_t optionFlag = 0x80000;
    static constexpr std::uint64_t commandFlag = 0x100000;
    static constexpr std::uint64_t helpFlag = 0x400000;
    static constexpr std::uint64_t functionFlag = 0x800000;
    // Modifiers that make a keystroke a shortcut rather than typed text (shift and caps lock are not).
    static constexpr std::uint64_t shortcutModifierMask = 0xDC0000;

    std::uint16_t keyCode = 0;
    // The text the key produces; absent for keys that produce none (arrows, function keys).
    std::optional<std::string> characters;
    std::uint64_t modifierFlags = 0;
    // The toolkit's input method is composing text for this event.
    bool composing = false;

    // `keyval` is GDK's key value, `hardwareKeycode` the X/evdev key code, `state` GDK's modifier mask.
    static NativeKeyEvent fromGdk(std::uint32_t keyval, std::uint32_t hardwareKeycode, std::uint32_t state,
                                  bool composing = false);
};

}  // namespace pelko
