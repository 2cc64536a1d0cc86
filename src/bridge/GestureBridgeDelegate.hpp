#pragma once
// GestureBridgeDelegate: how the gesture bridge reports a finished column pinch over the web view.
//
// Called on the main thread, once per reported gesture. The gesture bridge holds its delegate weakly.
// ColumnPinchEvent is a plain value; locations are in the web view's own coordinates and the
// timestamp is in seconds since 1970.
namespace pelko {

class GestureBridge;

struct ColumnPinchEvent {
    enum class Direction { expand, collapse };

    Direction direction = Direction::collapse;
    double timestamp = 0;
    double magnitude = 0;
    double locationX = 0;
    double locationY = 0;
    double normalizedX = 0;
    double normalizedY = 0;
    double scaleFactor = 1;
};

class GestureBridgeDelegate {
  public:
    virtual ~GestureBridgeDelegate() = default;
    virtual void gestureBridgeDidDetect(GestureBridge& gestureBridge, const ColumnPinchEvent& event) = 0;
};

}  // namespace pelko
