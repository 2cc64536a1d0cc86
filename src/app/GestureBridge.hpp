#pragma once
// GestureBridge: turns touchpad pinches over the web view into at most one column-pinch report per
// gesture. It watches the view's pinch events through a monitor and never consumes them (the web view
// still gets every one), sums the magnification of a gesture (the began event's share is not
// counted), and reports when the gesture ends over the view with a sum of at least the threshold,
// no sooner than the cooldown after the last report.
//
// Main thread only. Holds the view and its delegate weakly; the web bridge holds the gesture bridge.
// Made with `create` (the monitor holds it weakly). The clock gives seconds since 1970.
#include <functional>
#include <memory>
#include <optional>

#include "bridge/GestureBridgeDelegate.hpp"
#include "platform/gui/EventMonitoring.hpp"

namespace pelko {

class GestureBridge final : public std::enable_shared_from_this<GestureBridge> {
    struct Passkey {};

  public:
    using Clock = std::function<double()>;
    static Clock systemClock();

    static std::shared_ptr<GestureBridge> create(double magnitudeThreshold, double dispatchCooldown,
                                                 Clock clock = systemClock());
    GestureBridge(Passkey, double magnitudeThreshold, double dispatchCooldown, Clock clock);
    ~GestureBridge();
    GestureBridge(const GestureBridge&) = delete;
    GestureBridge& operator=(const GestureBridge&) = delete;

    void setDelegate(std::weak_ptr<GestureBridgeDelegate> delegate);
    // The same view again keeps its monitor; another view replaces the first.
    void attach(const std::shared_ptr<EventMonitoring>& view);
    // Removes the monitor, forgets the view and clears the sum (not the last report time).
    void detach();

  private:
    void handleMagnify(const PinchEvent& event);
    void dispatchEventIfNeeded(const PinchEvent& event);

    std::weak_ptr<GestureBridgeDelegate> delegate_;
    std::weak_ptr<EventMonitoring> view_;
    std::optional<EventMonitoring::Token> monitor_;
    double accumulatedMagnification_ = 0;
    double lastDispatchTimestamp_ = 0;
    double magnitudeThreshold_;
    double dispatchCooldown_;
    Clock clock_;
};

}  // namespace pelko
