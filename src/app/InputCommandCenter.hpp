#pragma once
// InputCommandCenter: the project-switching commands and the window's input monitors. Every key press
// is first offered to the terminal service, which may take it for the focused terminal session (then
// nothing else sees it); a horizontal touchpad swipe switches to the next or previous project. The
// menu's "Next Project" and "Previous Project" call the same callbacks.
//
// Main thread only. Holds the terminal service and the event source weakly; monitors are installed
// once however often `activateGestureMonitoring` is called, and the callbacks and the terminal link
// survive deactivation (the menu commands keep working).
#include <functional>
#include <memory>
#include <vector>

#include "platform/gui/EventMonitoring.hpp"
#include "terminal/NativeKeyEvent.hpp"

namespace pelko {

class TerminalService;

class InputCommandCenter final : public std::enable_shared_from_this<InputCommandCenter> {
    struct Passkey {};

  public:
    static std::shared_ptr<InputCommandCenter> create(std::weak_ptr<EventMonitoring> events);
    InputCommandCenter(Passkey, std::weak_ptr<EventMonitoring> events);
    InputCommandCenter(const InputCommandCenter&) = delete;
    InputCommandCenter& operator=(const InputCommandCenter&) = delete;

    std::function<void()> onNextProject;
    std::function<void()> onPreviousProject;

    void attach(std::weak_ptr<TerminalService> terminalService);
    void activateGestureMonitoring();
    void deactivateGestureMonitoring();
    bool isMonitoring() const { return !monitors_.empty(); }

    // The terminal's view of a key press.
    static NativeKeyEvent nativeKeyEvent(const KeyPress& press);

  private:
    bool handleKeyDown(const KeyPress& press);
    void handleSwipe(const SwipeEvent& swipe);

    std::weak_ptr<EventMonitoring> events_;
    std::weak_ptr<TerminalService> terminalService_;
    std::vector<EventMonitoring::Token> monitors_;
};

}  // namespace pelko
