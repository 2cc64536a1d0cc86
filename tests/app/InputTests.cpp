#include <gtest/gtest.h>

#include "app/FakeEventMonitoring.hpp"
#include "app/FileDrop.hpp"
#include "app/InputCommandCenter.hpp"
#include "app/ZoomShortcut.hpp"
#include "platform/Json.hpp"

namespace pelko {
namespace {

KeyPress key(std::uint32_t keycode, bool control, bool shift = false, bool alt = false) {
    KeyPress press;
    press.keycode = keycode;
    press.control = control;
    press.shift = shift;
    press.alt = alt;
    return press;
}

constexpr std::uint32_t equalKey = 21, semicolonKey = 47, digit1Key = 10, keypadPlusKey = 86;

TEST(ZoomShortcutTest, TheZoomKeys) {
    auto described = [](const std::optional<ZoomShortcut>& match) {
        return match ? match->key + " " + match->code + (match->shift ? " shift" : "") : std::string("none");
    };
    KeyPress withSuper = key(equalKey, true);
    withSuper.super = true;
    const std::pair<KeyPress, const char*> cases[] = {
        {key(equalKey, true), "= Equal"},
        {key(equalKey, true, true), "+ Equal shift"},
        {key(semicolonKey, true), "; Semicolon"},
        {key(semicolonKey, true, true), "+ Semicolon shift"},
        {key(keypadPlusKey, true), "+ NumpadAdd"},
        {withSuper, "= Equal"},
        {key(equalKey, true, false, true), "none"},  // with Alt
        {key(equalKey, false), "none"},
        {key(digit1Key, true), "none"},
    };
    for (const auto& [press, expected] : cases)
        EXPECT_EQ(described(ZoomShortcut::match(press)), expected) << press.keycode;
}

TEST(ZoomShortcutTest, ScriptSaysMetaAndNeverCtrl) {
    const ZoomShortcut shortcut{"+", "Equal", true};
    EXPECT_EQ(
        shortcut.script(),
        "(function() {\n"
        "  const eventInit = { key: \"+\", code: \"Equal\", metaKey: true, shiftKey: true, ctrlKey: false, "
        "altKey: false, bubbles: true };\n"
        "  window.dispatchEvent(new KeyboardEvent(\"keydown\", eventInit));\n"
        "  window.dispatchEvent(new KeyboardEvent(\"keyup\", eventInit));\n"
        "})();");
}

TEST(FileDropTest, ScriptCarriesStandardisedPathsInOrder) {
    EXPECT_FALSE(FileDrop::script({}, 1.5));
    auto script = FileDrop::script({"/tmp/b/../a.txt", "/tmp/dir/"}, 1700000000.25);
    ASSERT_TRUE(script);
    const std::string prefix = "(function() {\n  window.__pelkoNativeDropPayload = ";
    ASSERT_EQ(script->rfind(prefix, 0), 0u);
    auto end = script->find(";\n", prefix.size());
    auto payload = json::parse(script->substr(prefix.size(), end - prefix.size()));
    ASSERT_TRUE(payload);
    EXPECT_EQ((*payload)["paths"], Json::array({"/tmp/a.txt", "/tmp/dir"}));
    EXPECT_EQ((*payload)["timestamp"], 1700000000.25);
    EXPECT_NE(script->find("window.dispatchEvent(new CustomEvent('pelko:native-drop', "
                           "{ detail: window.__pelkoNativeDropPayload }));\n})();"),
              std::string::npos);
}

TEST(InputCommandCenterTest, SwipesSwitchProjectsAndMonitorsInstallOnce) {
    auto events = std::make_shared<test::FakeEventMonitoring>();
    auto center = InputCommandCenter::create(events);
    std::vector<std::string> calls;
    center->onNextProject = [&] { calls.push_back("next"); };
    center->onPreviousProject = [&] { calls.push_back("previous"); };

    center->activateGestureMonitoring();
    center->activateGestureMonitoring();
    EXPECT_EQ(events->monitorCount(), 2u);

    events->swipe(-1);
    events->swipe(1);
    events->swipe(0);
    EXPECT_EQ(calls, (std::vector<std::string>{"previous", "next"}));

    // Without a terminal service every key passes on.
    EXPECT_FALSE(events->pressKey(key(38, false)));

    center->deactivateGestureMonitoring();
    EXPECT_EQ(events->monitorCount(), 0u);
    events->swipe(1);
    EXPECT_EQ(calls.size(), 2u);
    // The menu commands still work.
    center->onNextProject();
    EXPECT_EQ(calls.back(), "next");
    center->activateGestureMonitoring();
    EXPECT_EQ(events->monitorCount(), 2u);
}

TEST(InputCommandCenterTest, KeyPressBecomesTheTerminalsKeyEvent) {
    KeyPress press;
    press.keyval = 'a';
    press.keycode = 38;
    auto event = InputCommandCenter::nativeKeyEvent(press);
    EXPECT_EQ(event.characters, std::optional<std::string>("a"));
    EXPECT_EQ(event.modifierFlags & NativeKeyEvent::shortcutModifierMask, 0u);
}

}  // namespace
}  // namespace pelko
