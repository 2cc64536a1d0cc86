#pragma once
// Plain records of the window's input events, as the GTK layer hands them to the application's
// logic (no GTK types, so that logic tests without a display).
#include <cstdint>

namespace pelko {

// One key press. `keycode` is the hardware key code (evdev code + 8 on X11 and Wayland); `keyval`
// the GDK key value with the modifiers applied. The flags repeat the modifier mask's meaning.
struct KeyPress {
    std::uint32_t keyval = 0;
    std::uint32_t keycode = 0;
    std::uint32_t modifierState = 0;  // GDK's modifier mask, as delivered
    bool shift = false;
    bool control = false;
    bool alt = false;
    bool super = false;
    bool composing = false;  // an input method is composing text
};

// One touchpad pinch event over the web view. `magnificationDelta` is the change of scale since the
// previous event of the gesture (0 for `began`). The location is in the web view's own coordinates;
// the view's size and display scale come with it.
struct PinchEvent {
    enum class Phase { began, changed, ended, cancelled };
    Phase phase = Phase::changed;
    double magnificationDelta = 0;
    double x = 0;
    double y = 0;
    double viewWidth = 0;
    double viewHeight = 0;
    double scaleFactor = 1;
};

// One touchpad swipe (three or more fingers), reported once when it ends. `deltaX` follows the
// convention of paging: positive when the fingers moved left (towards what comes next).
struct SwipeEvent {
    double deltaX = 0;
};

}  // namespace pelko
