#pragma once
// ZoomShortcut: the zoom keys (Command with =, -, 0, ; and their keypad forms) that the web view
// hands to the page as synthetic key events instead of acting on them itself. Command is Ctrl on
// Linux; the synthetic events still say `metaKey: true`, the page's one zoom modifier.
//
// Keys are matched by their physical position (hardware key code), like the keyboard's printed US
// layout, so the shortcut stays where the user expects it whatever the layout. Pure; any thread.
#include <optional>
#include <string>

#include "platform/gui/InputEvents.hpp"

namespace pelko {

struct ZoomShortcut {
    std::string key;
    std::string code;
    bool shift = false;

    // The shortcut for a key press: Ctrl held, Alt not held, a key of the zoom table. Other
    // modifiers are not examined.
    static std::optional<ZoomShortcut> match(const KeyPress& press);
    // The script that dispatches a keydown and a keyup with this key on the page's window.
    std::string script() const;
};

}  // namespace pelko
