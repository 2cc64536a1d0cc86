#include "app/GestureBridge.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace pelko {

GestureBridge::Clock GestureBridge::systemClock() {
    return [] {
        using namespace std::chrono;
        return duration<double>(system_clock::now().time_since_epoch()).count();
    };
}

std::shared_ptr<GestureBridge> GestureBridge::create(double magnitudeThreshold, double dispatchCooldown,
                                                     Clock clock) {
    return std::make_shared<GestureBridge>(Passkey{}, magnitudeThreshold, dispatchCooldown, std::move(clock));
}

GestureBridge::GestureBridge(Passkey, double magnitudeThreshold, double dispatchCooldown, Clock clock)
    : magnitudeThreshold_(magnitudeThreshold),
      dispatchCooldown_(dispatchCooldown),
      clock_(std::move(clock)) {}

GestureBridge::~GestureBridge() {
    detach();
}

void GestureBridge::setDelegate(std::weak_ptr<GestureBridgeDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void GestureBridge::attach(const std::shared_ptr<EventMonitoring>& view) {
    if (monitor_ && view_.lock() == view) return;
    detach();
    view_ = view;
    if (!view) return;
    std::weak_ptr<GestureBridge> weak = weak_from_this();
    monitor_ = view->addPinchMonitor([weak](const PinchEvent& event) {
        if (auto self = weak.lock()) self->handleMagnify(event);
    });
}

void GestureBridge::detach() {
    if (monitor_) {
        if (auto view = view_.lock()) view->removeMonitor(*monitor_);
    }
    monitor_.reset();
    view_.reset();
    accumulatedMagnification_ = 0;
}

void GestureBridge::handleMagnify(const PinchEvent& event) {
    if (view_.expired()) return;
    switch (event.phase) {
        case PinchEvent::Phase::ended:
            accumulatedMagnification_ += event.magnificationDelta;
            dispatchEventIfNeeded(event);
            accumulatedMagnification_ = 0;
            break;
        case PinchEvent::Phase::began:
        case PinchEvent::Phase::cancelled:
            accumulatedMagnification_ = 0;
            break;
        case PinchEvent::Phase::changed:
            accumulatedMagnification_ += event.magnificationDelta;
            break;
    }
}

void GestureBridge::dispatchEventIfNeeded(const PinchEvent& event) {
    if (view_.expired()) return;
    const double sum = accumulatedMagnification_;
    if (std::fabs(sum) < magnitudeThreshold_) return;
    const double now = clock_();
    if (now - lastDispatchTimestamp_ < dispatchCooldown_) return;
    // The cooldown restarts even when the gesture ends outside the view.
    lastDispatchTimestamp_ = now;

    const double width = event.viewWidth;
    const double height = event.viewHeight;
    if (!(event.x >= 0 && event.y >= 0 && event.x < width && event.y < height)) return;

    ColumnPinchEvent report;
    report.direction = sum > 0 ? ColumnPinchEvent::Direction::expand : ColumnPinchEvent::Direction::collapse;
    report.timestamp = now;
    report.magnitude = sum;
    report.locationX = std::clamp(event.x, 0.0, width);
    report.locationY = std::clamp(event.y, 0.0, height);
    report.normalizedX = report.locationX / width;
    report.normalizedY = report.locationY / height;
    report.scaleFactor = event.scaleFactor > 0 ? event.scaleFactor : 1.0;
    if (auto delegate = delegate_.lock()) delegate->gestureBridgeDidDetect(*this, report);
}

}  // namespace pelko
