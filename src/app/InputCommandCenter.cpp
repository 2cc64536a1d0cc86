#include "app/InputCommandCenter.hpp"

#include "terminal/TerminalService.hpp"

namespace pelko {

std::shared_ptr<InputCommandCenter> InputCommandCenter::create(std::weak_ptr<EventMonitoring> events) {
    return std::make_shared<InputCommandCenter>(Passkey{}, std::move(events));
}

InputCommandCenter::InputCommandCenter(Passkey, std::weak_ptr<EventMonitoring> events)
    : events_(std::move(events)) {}

void InputCommandCenter::attach(std::weak_ptr<TerminalService> terminalService) {
    terminalService_ = std::move(terminalService);
}

NativeKeyEvent InputCommandCenter::nativeKeyEvent(const KeyPress& press) {
    return NativeKeyEvent::fromGdk(press.keyval, press.keycode, press.modifierState, press.composing);
}

void InputCommandCenter::activateGestureMonitoring() {
    if (!monitors_.empty()) return;
    auto events = events_.lock();
    if (!events) return;
    std::weak_ptr<InputCommandCenter> weak = weak_from_this();
    monitors_.push_back(events->addKeyDownMonitor([weak](const KeyPress& press) {
        auto self = weak.lock();
        return self && self->handleKeyDown(press);
    }));
    monitors_.push_back(events->addSwipeMonitor([weak](const SwipeEvent& swipe) {
        if (auto self = weak.lock()) self->handleSwipe(swipe);
    }));
}

void InputCommandCenter::deactivateGestureMonitoring() {
    if (auto events = events_.lock()) {
        for (auto token : monitors_) events->removeMonitor(token);
    }
    monitors_.clear();
}

bool InputCommandCenter::handleKeyDown(const KeyPress& press) {
    auto terminal = terminalService_.lock();
    return terminal && terminal->handleNativeKeyDown(nativeKeyEvent(press));
}

void InputCommandCenter::handleSwipe(const SwipeEvent& swipe) {
    if (swipe.deltaX < 0) {
        if (onPreviousProject) onPreviousProject();
    } else if (swipe.deltaX > 0) {
        if (onNextProject) onNextProject();
    }
}

}  // namespace pelko
