#pragma once
// EventMonitoring: local monitors of the window's input events, the way the shell's input command
// centre and gesture bridge watch keys, swipes and pinches.
//
// Monitors run on the main thread, in installation order, before the web view sees the event. A
// key-down monitor that returns true swallows the key (no later monitor, the web view or a menu
// accelerator sees it); swipe and pinch monitors only watch and never swallow. A token is removed at
// most once; removing an unknown token does nothing.
#include <cstdint>
#include <functional>

#include "platform/gui/InputEvents.hpp"

namespace pelko {

class EventMonitoring {
  public:
    using Token = std::uint64_t;
    virtual ~EventMonitoring() = default;

    virtual Token addKeyDownMonitor(std::function<bool(const KeyPress&)> handler) = 0;
    virtual Token addSwipeMonitor(std::function<void(const SwipeEvent&)> handler) = 0;
    virtual Token addPinchMonitor(std::function<void(const PinchEvent&)> handler) = 0;
    virtual void removeMonitor(Token token) = 0;
};

}  // namespace pelko
