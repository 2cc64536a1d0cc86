#pragma once
// A window's event monitors without a window: tests install monitors through the real interface and
// deliver events by hand.
#include <map>

#include "platform/gui/EventMonitoring.hpp"

namespace pelko::test {

class FakeEventMonitoring final : public EventMonitoring {
  public:
    Token addKeyDownMonitor(std::function<bool(const KeyPress&)> handler) override {
        keys[next] = std::move(handler);
        return next++;
    }
    Token addSwipeMonitor(std::function<void(const SwipeEvent&)> handler) override {
        swipes[next] = std::move(handler);
        return next++;
    }
    Token addPinchMonitor(std::function<void(const PinchEvent&)> handler) override {
        pinches[next] = std::move(handler);
        return next++;
    }
    void removeMonitor(Token token) override {
        keys.erase(token);
        swipes.erase(token);
        pinches.erase(token);
    }

    // True when a monitor swallowed the key.
    bool pressKey(const KeyPress& press) {
        for (auto& [token, handler] : keys) {
            if (handler(press)) return true;
        }
        return false;
    }
    void swipe(double deltaX) {
        for (auto& [token, handler] : swipes) handler(SwipeEvent{deltaX});
    }
    void pinch(PinchEvent::Phase phase, double delta, double x = 100, double y = 50) {
        PinchEvent event;
        event.phase = phase;
        event.magnificationDelta = delta;
        event.x = x;
        event.y = y;
        event.viewWidth = 400;
        event.viewHeight = 200;
        event.scaleFactor = 2;
        for (auto& [token, handler] : std::map(pinches)) handler(event);
    }
    size_t monitorCount() const { return keys.size() + swipes.size() + pinches.size(); }

    std::map<Token, std::function<bool(const KeyPress&)>> keys;
    std::map<Token, std::function<void(const SwipeEvent&)>> swipes;
    std::map<Token, std::function<void(const PinchEvent&)>> pinches;
    Token next = 1;
};

}  // namespace pelko::test
