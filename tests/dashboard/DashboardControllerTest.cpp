// The dashboard controller's open/close/force rules, one load at a time, delivery after dismissal,
// failures and analytics.
#include <gtest/gtest.h>

#include <condition_variable>
#include <stdexcept>

#include "DashboardTestSupport.hpp"
#include "dashboard/DashboardController.hpp"
#include "platform/MainQueue.hpp"

namespace pelko {
namespace {

using test::RecordingAnalytics;

// Each fetch waits until the test releases it, so a load can be held "running".
class GatedMetricsService final : public DashboardMetricsServicing {
  public:
    DashboardSnapshot fetchSnapshot(bool forceRefresh) override {
        std::unique_lock lock(mutex_);
        forced_.push_back(forceRefresh);
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_ > 0; });
        --released_;
        if (fail_) throw std::runtime_error("disk on fire");
        DashboardSnapshot snapshot;
        snapshot.totalCommits = static_cast<std::int64_t>(forced_.size());
        return snapshot;
    }
    void release(bool fail = false) {
        std::lock_guard lock(mutex_);
        fail_ = fail;
        ++released_;
        changed_.notify_all();
    }
    std::vector<bool> forced() {
        std::lock_guard lock(mutex_);
        return forced_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> forced_;
    int released_ = 0;
    bool fail_ = false;
};

struct RecordingEmitter final : DashboardEventEmitting {
    std::vector<std::string> events;  // "toggled:true", "metrics:<totalCommits>", "error:<message>"
    void emitDashboardToggled(bool open) override {
        events.push_back(open ? "toggled:true" : "toggled:false");
    }
    void emitDashboardMetrics(const DashboardSnapshot& snapshot) override {
        events.push_back("metrics:" + std::to_string(snapshot.totalCommits));
    }
    void emitDashboardMetricsError(const std::string& message) override {
        events.push_back("error:" + message);
    }
};

class DashboardControllerTest : public ::testing::Test {
  protected:
    std::shared_ptr<GatedMetricsService> service = std::make_shared<GatedMetricsService>();
    std::shared_ptr<RecordingEmitter> emitter = std::make_shared<RecordingEmitter>();
    std::shared_ptr<RecordingAnalytics> analytics = std::make_shared<RecordingAnalytics>();
    std::shared_ptr<DashboardController> controller =
        DashboardController::create(service, emitter, analytics);

    void finishLoad(bool fail = false) {
        service->release(fail);
        ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return !controller->isFetchingSnapshot(); }));
    }
};

TEST_F(DashboardControllerTest, PresentOpensLogsAndLoadsOnce) {
    controller->present(false, std::nullopt);
    EXPECT_TRUE(controller->isPresented());
    EXPECT_TRUE(controller->isFetchingSnapshot());
    finishLoad();
    EXPECT_EQ(emitter->events, (std::vector<std::string>{"toggled:true", "metrics:1"}));
    ASSERT_EQ(analytics->names(), std::vector<std::string>{"dashboard_opened"});
    EXPECT_EQ(analytics->events()[0].text("source"), "native");
    EXPECT_EQ(service->forced(), std::vector<bool>{false});
}

TEST_F(DashboardControllerTest, SecondPresentOnlyReloadsWhenForcedAndIdle) {
    controller->present(false, std::string("shortcut"));
    controller->present(true, std::string("menu"));  // a load is running: dropped, not queued
    finishLoad();
    controller->present(false, std::string("menu"));  // open and not forced: nothing
    controller->present(true, std::string("menu"));   // open, forced, idle: one forced reload
    finishLoad();
    EXPECT_EQ(emitter->events, (std::vector<std::string>{"toggled:true", "metrics:1", "metrics:2"}));
    EXPECT_EQ(service->forced(), (std::vector<bool>{false, true}));
    EXPECT_EQ(analytics->names(), std::vector<std::string>{"dashboard_opened"});
}

TEST_F(DashboardControllerTest, ReopeningDuringALoadSharesThatLoadAndItsResultArrivesOnce) {
    controller->present(false, std::string("first"));
    controller->dismiss();
    controller->present(false, std::string("second"));
    finishLoad();
    EXPECT_EQ(emitter->events,
              (std::vector<std::string>{"toggled:true", "toggled:false", "toggled:true", "metrics:1"}));
    EXPECT_EQ(analytics->names(),
              (std::vector<std::string>{"dashboard_opened", "dashboard_closed", "dashboard_opened"}));
    EXPECT_EQ(service->forced().size(), 1u);
}

TEST_F(DashboardControllerTest, ResultAfterDismissIsStillSent) {
    controller->present(false, std::nullopt);
    controller->dismiss();
    finishLoad();
    EXPECT_EQ(emitter->events, (std::vector<std::string>{"toggled:true", "toggled:false", "metrics:1"}));
}

TEST_F(DashboardControllerTest, DismissWhileClosedAndCardsWhileClosedDoNothing) {
    controller->dismiss();
    controller->noteCardOpened(Uuid::random(), std::string("demo"));
    EXPECT_TRUE(emitter->events.empty());
    EXPECT_TRUE(analytics->events().empty());
}

TEST_F(DashboardControllerTest, ClosingAndCardsCarryTheSourceOfTheOpening) {
    auto id = *Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    controller->present(false, std::string("shortcut"));
    controller->present(false, std::string("later"));
    controller->noteCardOpened(id, std::string(""));
    controller->noteCardOpened(id, std::nullopt);
    controller->dismiss();
    finishLoad();
    auto events = analytics->events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].name, "dashboard_card_opened");
    EXPECT_EQ(events[1].text("projectId"), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(events[1].text("source"), "shortcut");
    EXPECT_EQ(events[1].text("projectName"), "");
    EXPECT_EQ(events[2].text("projectName"), "<absent>");
    EXPECT_EQ(events[3].name, "dashboard_closed");
    EXPECT_EQ(events[3].text("source"), "shortcut");
}

TEST_F(DashboardControllerTest, FailureSendsTheFixedMessageAndAllowsARetry) {
    controller->present(false, std::nullopt);
    finishLoad(/*fail=*/true);
    EXPECT_EQ(emitter->events,
              (std::vector<std::string>{"toggled:true", "error:Failed to fetch dashboard metrics"}));
    auto events = analytics->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].name, "dashboard_metrics_error");
    EXPECT_EQ(events[1].text("reason"), "disk on fire");
    controller->present(true, std::nullopt);
    finishLoad();
    EXPECT_EQ(emitter->events.back(), "metrics:2");
}

TEST_F(DashboardControllerTest, WithoutTheBridgeStateAndAnalyticsStillChange) {
    emitter.reset();
    controller->present(false, std::nullopt);
    finishLoad();
    controller->dismiss();
    EXPECT_FALSE(controller->isPresented());
    EXPECT_EQ(analytics->names(), (std::vector<std::string>{"dashboard_opened", "dashboard_closed"}));
}

}  // namespace
}  // namespace pelko
