#include "terminal/NativeKeyEvent.hpp"

namespace pelko {

namespace {

// GDK key values (gdkkeysyms.h).
constexpr std::uint32_t keyEisuShift = 0xff2f;
constexpr std::uint32_t keyEisuToggle = 0xff30;
constexpr std::uint32_t keyHiragana = 0xff25;
constexpr std::uint32_t keyKatakana = 0xff26;
constexpr std::uint32_t keyHiraganaKatakana = 0xff27;
constexpr std::uint32_t keyKanaLock = 0xff2d;
constexpr std::uint32_t keyKanaShift = 0xff2e;
constexpr std::uint32_t keyBackSpace = 0xff08;
constexpr std::uint32_t keyTab = 0xff09;
constexpr std::uint32_t keyReturn = 0xff0d;
constexpr std::uint32_t keyEscape = 0xff1b;
constexpr std::uint32_t keyDelete = 0xffff;
constexpr std::uint32_t keyKeypadEnter = 0xff8d;
constexpr std::uint32_t unicodeKeyBase = 0x01000000;

// X key codes (evdev + 8) of the JIS keyboards' LANG2 (Eisu) and LANG1 (Kana) keys, which arrive as
// Hangul_Hanja and Hangul when the layout has no Japanese key names.
constexpr std::uint32_t hardwareEisu = 131;
constexpr std::uint32_t hardwareKana = 130;

// GDK modifier bits (gdkenums.h).
constexpr std::uint32_t gdkShift = 1u << 0;
constexpr std::uint32_t gdkLock = 1u << 1;
constexpr std::uint32_t gdkControl = 1u << 2;
constexpr std::uint32_t gdkAlt = 1u << 3;
constexpr std::uint32_t gdkSuper = 1u << 26;
constexpr std::uint32_t gdkHyper = 1u << 27;
constexpr std::uint32_t gdkMeta = 1u << 28;

void appendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

std::optional<std::string> charactersFor(std::uint32_t keyval) {
    std::uint32_t codePoint = 0;
    if ((keyval >= 0x20 && keyval <= 0x7e) || (keyval >= 0xa0 && keyval <= 0xff)) {
        codePoint = keyval;  // Latin-1 key values are their code points
    } else if ((keyval & 0xff000000) == unicodeKeyBase) {
        codePoint = keyval & 0x00ffffff;
    } else {
        switch (keyval) {
            case keyBackSpace:
                codePoint = 0x7f;
                break;
            case keyTab:
                codePoint = 0x09;
                break;
            case keyReturn:
            case keyKeypadEnter:
                codePoint = 0x0d;
                break;
            case keyEscape:
                codePoint = 0x1b;
                break;
            case keyDelete:
                codePoint = 0x7f;
                break;
            default:
                return std::nullopt;
        }
    }
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return std::nullopt;
    std::string text;
    appendUtf8(text, codePoint);
    return text;
}

}  // namespace

NativeKeyEvent NativeKeyEvent::fromGdk(std::uint32_t keyval, std::uint32_t hardwareKeycode,
                                       std::uint32_t state, bool composing) {
    NativeKeyEvent event;
    event.composing = composing;
    switch (keyval) {
        case keyEisuShift:
        case keyEisuToggle:
            event.keyCode = eisuKeyCode;
            break;
        case keyHiragana:
        case keyKatakana:
        case keyHiraganaKatakana:
        case keyKanaLock:
        case keyKanaShift:
            event.keyCode = kanaKeyCode;
            break;
        default:
            if (hardwareKeycode == hardwareEisu) {
                event.keyCode = eisuKeyCode;
            } else if (hardwareKeycode == hardwareKana) {
                event.keyCode = kanaKeyCode;
            } else {
                // Other keys keep their hardware code, moved clear of the two JIS codes.
                event.keyCode = static_cast<std::uint16_t>(hardwareKeycode == eisuKeyCode ||
                                                                   hardwareKeycode == kanaKeyCode
                                                               ? hardwareKeycode + 0x1000
                                                               : hardwareKeycode);
            }
            break;
    }
    if (event.keyCode != eisuKeyCode && event.keyCode != kanaKeyCode)
        event.characters = charactersFor(keyval);
    if (state & gdkShift) event.modifierFlags |= shiftFlag;
    if (state & gdkLock) event.modifierFlags |= capsLockFlag;
    if (state & gdkControl) event.modifierFlags |= controlFlag;
    if (state & gdkAlt) event.modifierFlags |= optionFlag;
    if (state & (gdkSuper | gdkMeta)) event.modifierFlags |= commandFlag;
    if (state & gdkHyper) event.modifierFlags |= functionFlag;
    return event;
}

}  // namespace pelko
