// The dashboard controller: open, close and reload rules, one load at a time, failures and analytics.
#include <gtest/gtest.h>

#include <semaphore>
#include <stdexcept>

#include "DashboardTestSupport.hpp"
#include "dashboard/DashboardController.hpp"
#include "platform/MainQueue.hpp"

namespace pelko {
namespace {

// Each fetch waits until the test releases it, so a load can be held running; its snapshot's
// totalCommits numbers the fetch.
struct GatedMetricsService final : DashboardMetricsServicing {
    std::counting_semaphore<8> gate{0};
    bool fail = false;         // set before the gate opens
    std::vector<bool> forced;  // read once the controller is idle

    SnapshotRequest snapshotRequest(bool forceRefresh) const override { return {forceRefresh, {}}; }
    DashboardSnapshot fetchSnapshot(const SnapshotRequest& request) override {
        forced.push_back(request.forceRefresh);
        gate.acquire();
        if (fail) throw std::runtime_error("disk on fire");
        DashboardSnapshot snapshot;
        snapshot.totalCommits = static_cast<std::int64_t>(forced.size());
        return snapshot;
    }
};

struct RecordingEmitter final : DashboardEventEmitting {
    std::vector<std::string> events;
    void emitDashboardToggled(bool open) override { events.push_back(open ? "open" : "closed"); }
    void emitDashboardMetrics(const DashboardSnapshot& snapshot) override {
        events.push_back("metrics:" + std::to_string(snapshot.totalCommits));
    }
    void emitDashboardMetricsError(const std::string& message) override {
        events.push_back("error:" + message);
    }
};

using Texts = std::vector<std::string>;

class DashboardControllerTest : public ::testing::Test {
  protected:
    std::shared_ptr<GatedMetricsService> service = std::make_shared<GatedMetricsService>();
    std::shared_ptr<RecordingEmitter> emitter = std::make_shared<RecordingEmitter>();
    std::shared_ptr<test::RecordingAnalytics> analytics = std::make_shared<test::RecordingAnalytics>();
    std::shared_ptr<DashboardController> controller =
        DashboardController::create(service, emitter, analytics);

    void finishLoad(bool fail = false) {
        service->fail = fail;
        service->gate.release();
        ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return !controller->isFetchingSnapshot(); }));
    }
};

TEST_F(DashboardControllerTest, OneLoadAtATimeAndAReloadOnlyWhenOpenForcedAndIdle) {
    controller->present(false, std::nullopt);
    controller->dismiss();
    controller->present(false, std::string("menu"));  // reopened during the load: shares it
    EXPECT_TRUE(controller->isPresented());
    controller->present(true, std::string("menu"));  // a load is running: dropped, not queued
    finishLoad();
    controller->present(false, std::string("menu"));  // open and not forced: nothing
    controller->present(true, std::string("menu"));   // open, forced, idle: one forced reload
    finishLoad();
    EXPECT_EQ(emitter->events, (Texts{"open", "closed", "open", "metrics:1", "metrics:2"}));
    EXPECT_EQ(service->forced, (std::vector<bool>{false, true}));
    EXPECT_EQ(analytics->events, (Texts{"dashboard_opened source=native", "dashboard_closed source=native",
                                        "dashboard_opened source=menu"}));
}

TEST_F(DashboardControllerTest, ClosingAndCardsCarryTheOpeningSourceAndTheResultStillArrives) {
    auto id = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    controller->dismiss();                                // closed: nothing
    controller->noteCardOpened(id, std::string("demo"));  // closed: not recorded
    controller->present(false, std::string("shortcut"));
    controller->present(false, std::string("later"));
    controller->noteCardOpened(id, std::string(""));
    controller->noteCardOpened(id, std::nullopt);
    controller->dismiss();
    finishLoad();
    EXPECT_EQ(emitter->events, (Texts{"open", "closed", "metrics:1"}));
    const std::string card = "dashboard_card_opened projectId=0F8FAD5B-D9CB-469F-A165-70867728950E ";
    EXPECT_EQ(analytics->events,
              (Texts{"dashboard_opened source=shortcut", card + "projectName= source=shortcut",
                     card + "source=shortcut", "dashboard_closed source=shortcut"}));
}

TEST_F(DashboardControllerTest, FailureSendsTheFixedMessageAndAllowsARetry) {
    controller->present(false, std::nullopt);
    finishLoad(/*fail=*/true);
    controller->present(true, std::nullopt);
    finishLoad();
    EXPECT_EQ(emitter->events, (Texts{"open", "error:Failed to fetch dashboard metrics", "metrics:2"}));
    EXPECT_EQ(analytics->events,
              (Texts{"dashboard_opened source=native", "dashboard_metrics_error reason=disk on fire"}));

    // Without the bridge, state and analytics still change.
    emitter.reset();
    controller->dismiss();
    controller->present(false, std::string("menu"));
    finishLoad();
    EXPECT_EQ(analytics->events.back(), "dashboard_opened source=menu");
}

}  // namespace
}  // namespace pelko
