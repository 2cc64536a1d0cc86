#include <gtest/gtest.h>

#include <vector>

#include "app/FakeEventMonitoring.hpp"
#include "app/GestureBridge.hpp"

namespace pelko {
namespace {

using Phase = PinchEvent::Phase;

struct RecordingDelegate final : GestureBridgeDelegate {
    void gestureBridgeDidDetect(GestureBridge&, const ColumnPinchEvent& event) override {
        reports.push_back(event);
    }
    std::vector<ColumnPinchEvent> reports;
};

class GestureBridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bridge = GestureBridge::create(0.12, 0.35, [this] { return now; });
        bridge->setDelegate(delegate);
        bridge->attach(view);
    }
    void pinch(std::initializer_list<double> deltas, double x = 100, double y = 50) {
        view->pinch(Phase::began, 0.3, x, y);
        for (double d : deltas) view->pinch(Phase::changed, d, x, y);
        view->pinch(Phase::ended, 0, x, y);
    }
    double now = 1000;
    std::shared_ptr<test::FakeEventMonitoring> view = std::make_shared<test::FakeEventMonitoring>();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<GestureBridge> bridge;
};

TEST_F(GestureBridgeTest, OneReportPerGestureWithDirectionAndLocation) {
    pinch({0.1, 0.1});
    ASSERT_EQ(delegate->reports.size(), 1u);
    const auto& report = delegate->reports[0];
    EXPECT_EQ(report.direction, ColumnPinchEvent::Direction::expand);
    EXPECT_NEAR(report.magnitude, 0.2, 1e-9);
    EXPECT_EQ(report.timestamp, 1000);
    EXPECT_EQ(report.locationX, 100);
    EXPECT_EQ(report.locationY, 50);
    EXPECT_EQ(report.normalizedX, 0.25);
    EXPECT_EQ(report.normalizedY, 0.25);
    EXPECT_EQ(report.scaleFactor, 2);

    now += 1;
    pinch({-0.2});
    ASSERT_EQ(delegate->reports.size(), 2u);
    EXPECT_EQ(delegate->reports[1].direction, ColumnPinchEvent::Direction::collapse);
    EXPECT_NEAR(delegate->reports[1].magnitude, -0.2, 1e-9);
}

// One pinch per step, each `advance` seconds after the previous one, then the report count so far.
struct PinchStep {
    double advance;
    double delta;
    double x;
    std::size_t reports;
};

class GestureBridgeTimingTest : public GestureBridgeTest,
                                public ::testing::WithParamInterface<std::vector<PinchStep>> {};

TEST_P(GestureBridgeTimingTest, ReportsFollowThresholdAndCooldown) {
    for (const auto& step : GetParam()) {
        now += step.advance;
        pinch({step.delta}, step.x);
        EXPECT_EQ(delegate->reports.size(), step.reports) << "at " << now;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, GestureBridgeTimingTest,
    ::testing::Values(
        // A small pinch neither reports nor starts the cooldown; exactly the threshold passes.
        std::vector<PinchStep>{{0, 0.11, 100, 0}, {0.01, 0.12, 100, 1}},
        // 0.35 s of cooldown after a report.
        std::vector<PinchStep>{{0, 0.2, 100, 1}, {0.2, 0.2, 100, 1}, {0.2, 0.2, 100, 2}},
        // Ending outside the view starts a cooldown without a report.
        std::vector<PinchStep>{{0, 0.2, 500, 0}, {0.2, 0.2, 100, 0}}));

TEST_F(GestureBridgeTest, BeganShareAndCancelledGesturesDoNotCount) {
    view->pinch(Phase::began, 0.3);
    view->pinch(Phase::changed, 0.05);
    view->pinch(Phase::ended, 0);
    EXPECT_TRUE(delegate->reports.empty());

    view->pinch(Phase::began, 0);
    view->pinch(Phase::changed, 0.5);
    view->pinch(Phase::cancelled, 0);
    view->pinch(Phase::ended, 0);
    EXPECT_TRUE(delegate->reports.empty());
}

TEST_F(GestureBridgeTest, AttachingKeepsOneMonitor) {
    bridge->attach(view);
    EXPECT_EQ(view->pinches.size(), 1u);
    auto other = std::make_shared<test::FakeEventMonitoring>();
    bridge->attach(other);
    EXPECT_EQ(view->pinches.size(), 0u);
    EXPECT_EQ(other->pinches.size(), 1u);
}

TEST_F(GestureBridgeTest, AGoneDelegateDropsTheReport) {
    delegate.reset();
    pinch({0.2});
    SUCCEED();
}

}  // namespace
}  // namespace pelko
