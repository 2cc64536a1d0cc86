#include <gtest/gtest.h>

#include "platform/TextInputSourceIBusBackend.hpp"
#include "terminal/NativeKeyEvent.hpp"
#include "terminal/TerminalInputModeSwitcher.hpp"
#include "terminal/TerminalNativeInputClassifier.hpp"

namespace pelko {
namespace {

// GDK values used below.
constexpr std::uint32_t gdkShift = 1u << 0;
constexpr std::uint32_t gdkControl = 1u << 2;
constexpr std::uint32_t gdkAlt = 1u << 3;
constexpr std::uint32_t gdkSuper = 1u << 26;

TEST(NativeKeyEventTest, JisKeysMapFromKeyValuesAndHardwareCodes) {
    EXPECT_EQ(NativeKeyEvent::fromGdk(0xff30, 0, 0).keyCode, NativeKeyEvent::eisuKeyCode);  // Eisu_toggle
    EXPECT_EQ(NativeKeyEvent::fromGdk(0xff27, 0, 0).keyCode,
              NativeKeyEvent::kanaKeyCode);  // Hiragana_Katakana
    EXPECT_EQ(NativeKeyEvent::fromGdk(0xff34, 131, 0).keyCode, NativeKeyEvent::eisuKeyCode);  // LANG2
    EXPECT_EQ(NativeKeyEvent::fromGdk(0xff31, 130, 0).keyCode, NativeKeyEvent::kanaKeyCode);  // LANG1
    // Keypad Enter has X key code 104: it must not pass for Kana.
    auto enter = NativeKeyEvent::fromGdk(0xff8d, 104, 0);
    EXPECT_NE(enter.keyCode, NativeKeyEvent::kanaKeyCode);
    EXPECT_EQ(enter.characters, "\r");
}

TEST(NativeKeyEventTest, CharactersAndModifiers) {
    auto a = NativeKeyEvent::fromGdk('A', 38, gdkShift);
    EXPECT_EQ(a.characters, "A");
    EXPECT_EQ(a.modifierFlags, NativeKeyEvent::shiftFlag);
    EXPECT_EQ(NativeKeyEvent::fromGdk('a', 38, gdkControl).modifierFlags, NativeKeyEvent::controlFlag);
    EXPECT_EQ(NativeKeyEvent::fromGdk('a', 38, gdkAlt).modifierFlags, NativeKeyEvent::optionFlag);
    EXPECT_EQ(NativeKeyEvent::fromGdk('a', 38, gdkSuper).modifierFlags, NativeKeyEvent::commandFlag);
    EXPECT_FALSE(NativeKeyEvent::fromGdk(0xff51, 113, 0).characters);  // Left arrow
    EXPECT_EQ(NativeKeyEvent::fromGdk(0x010000e9, 0, 0).characters, "\xc3\xa9");
}

TEST(TerminalNativeInputClassifierTest, OnlyPlainPrintableAsciiIsText) {
    using C = TerminalNativeInputClassifier;
    EXPECT_EQ(C::printableASCIIText("A", NativeKeyEvent::shiftFlag, 0, false), "A");
    EXPECT_EQ(C::printableASCIIText("~", 0, 0, false), "~");
    EXPECT_EQ(C::printableASCIIText(" ", NativeKeyEvent::capsLockFlag, 0, false), " ");
    EXPECT_FALSE(C::printableASCIIText("a", NativeKeyEvent::controlFlag, 0, false));
    EXPECT_FALSE(C::printableASCIIText("a", NativeKeyEvent::optionFlag, 0, false));
    EXPECT_FALSE(C::printableASCIIText("a", NativeKeyEvent::commandFlag, 0, false));
    EXPECT_FALSE(C::printableASCIIText("a", 0, 0, true));
    EXPECT_FALSE(C::printableASCIIText("a", 0, NativeKeyEvent::eisuKeyCode, false));
    for (const char* control : {"\r", "\t", "\x1b", "\x7f"})
        EXPECT_FALSE(C::printableASCIIText(control, 0, 0, false));
    EXPECT_FALSE(C::printableASCIIText("ab", 0, 0, false));
    EXPECT_FALSE(C::printableASCIIText("\xc3\xa9", 0, 0, false));
    EXPECT_FALSE(C::printableASCIIText(std::nullopt, 0, 0, false));
    EXPECT_FALSE(C::printableASCIIText("", 0, 0, false));
}

class FakeInputSources final : public TextInputSourceServices {
  public:
    std::optional<std::vector<TextInputSource>> list = std::vector<TextInputSource>{};
    std::optional<TextInputSource> current;
    std::optional<TextInputSource> currentAscii;
    std::optional<TextInputSource> japanese;
    std::vector<std::string> selected;

    std::optional<std::vector<TextInputSource>> enabledKeyboardInputSources() override { return list; }
    std::optional<TextInputSource> currentKeyboardInputSource() override { return current; }
    std::optional<TextInputSource> currentASCIICapableKeyboardInputSource() override { return currentAscii; }
    std::optional<TextInputSource> inputSourceForLanguage(const std::string&) override { return japanese; }
    bool select(const TextInputSource& source) override {
        selected.push_back(source.identifier);
        return true;
    }
};

TextInputSource source(std::string id, std::optional<bool> selectable, std::optional<bool> ascii,
                       std::optional<std::string> mode = std::nullopt,
                       std::optional<bool> enabled = std::nullopt) {
    TextInputSource result;
    result.identifier = std::move(id);
    result.selectCapable = selectable;
    result.asciiCapable = ascii;
    result.inputModeID = std::move(mode);
    result.enabled = enabled;
    return result;
}

TEST(TerminalInputModeSwitcherTest, AsciiPrefersTheCurrentAsciiSourceThenTheFirstSelectableOne) {
    auto services = std::make_shared<FakeInputSources>();
    TerminalInputModeSwitcher switcher(services);
    services->currentAscii = source("xkb:us", false, true);
    services->list =
        std::vector{source("xkb:ru", true, false), source("xkb:off", true, true, std::nullopt, false),
                    source("xkb:jp", true, true)};
    EXPECT_EQ(switcher.inputSource(TerminalNativeInputMode::ascii)->identifier, "xkb:jp");
    services->currentAscii = source("xkb:us", true, true);
    EXPECT_EQ(switcher.inputSource(TerminalNativeInputMode::ascii)->identifier, "xkb:us");
    services->currentAscii.reset();
    services->list = std::vector<TextInputSource>{};
    EXPECT_FALSE(switcher.inputSource(TerminalNativeInputMode::ascii));
}

TEST(TerminalInputModeSwitcherTest, JapaneseFallsBackToTheJapaneseInputMode) {
    auto services = std::make_shared<FakeInputSources>();
    TerminalInputModeSwitcher switcher(services);
    services->japanese = source("anthy", false, false);
    services->list =
        std::vector{source("other", true, false, "ibus.inputmethod.pinyin"),
                    source("mozc-jp", true, false, TextInputSourceServices::japaneseInputModeID)};
    EXPECT_EQ(switcher.inputSource(TerminalNativeInputMode::japanese)->identifier, "mozc-jp");
}

TEST(TerminalInputModeSwitcherTest, CompositionRule) {
    using S = TerminalInputModeSwitcher;
    EXPECT_FALSE(S::requiresComposition(true, TextInputSourceServices::keyboardInputModeType, "x"));
    EXPECT_TRUE(S::requiresComposition(false, std::nullopt, std::nullopt));
    EXPECT_TRUE(
        S::requiresComposition(std::nullopt, TextInputSourceServices::keyboardInputModeType, std::nullopt));
    EXPECT_TRUE(S::requiresComposition(std::nullopt, std::nullopt, "mode"));
    EXPECT_FALSE(
        S::requiresComposition(std::nullopt, TextInputSourceServices::keyboardLayoutType, std::nullopt));

    auto services = std::make_shared<FakeInputSources>();
    TerminalInputModeSwitcher switcher(services);
    EXPECT_FALSE(switcher.currentInputSourceRequiresComposition());
    services->current = source("mozc-jp", true, false);
    EXPECT_TRUE(switcher.currentInputSourceRequiresComposition());
}

TEST(TextInputSourceIBusBackendTest, EnginesDescribeTheirLayoutOrInputMode) {
    auto us = TextInputSourceIBusBackend::describe("xkb:us::eng", "en", "us");
    EXPECT_EQ(us.asciiCapable, true);
    EXPECT_EQ(us.sourceType, std::string(TextInputSourceServices::keyboardLayoutType));
    EXPECT_FALSE(us.inputModeID);
    EXPECT_EQ(TextInputSourceIBusBackend::describe("xkb:ru::rus", "ru", "ru").asciiCapable, false);
    auto mozc = TextInputSourceIBusBackend::describe("mozc-jp", "ja", "default");
    EXPECT_EQ(mozc.asciiCapable, false);
    EXPECT_EQ(mozc.inputModeID, std::string(TextInputSourceServices::japaneseInputModeID));
    EXPECT_TRUE(
        TerminalInputModeSwitcher::requiresComposition(mozc.asciiCapable, mozc.sourceType, mozc.inputModeID));
    EXPECT_EQ(TextInputSourceIBusBackend::describe("pinyin", "zh", "default").inputModeID,
              "ibus.inputmethod.pinyin");
}

}  // namespace
}  // namespace pelko
