// Inbound routing: message shapes, exact type matching, the dashboard and configuration requests, and
// the Git requests' parsing.
#include <gtest/gtest.h>

#include <cctype>

#include "bridge/BridgeTestSupport.hpp"
#include "config/ConfigStore.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {
namespace {

const std::string kProject = "0C7F3D52-9A1B-4E6C-8D2F-3B4A5C6D7E8F";

Json withProject(Json fields = Json::object()) {
    fields["projectId"] = kProject;
    return fields;
}

class WebBridgeRouting : public ::testing::Test {
  protected:
    void SetUp() override {
        store = std::make_shared<ConfigStore>(dir / "data");
        loaded.bridge->configure({.gitService = git,
                                  .configStore = store,
                                  .dashboardController = dashboard,
                                  .analyticsLogger = analytics});
        loaded.webView->scripts.clear();
    }

    void send(const Json& body) { loaded.bridge->handle(body); }

    TempDir dir;
    LoadedBridge loaded;
    std::shared_ptr<ConfigStore> store;
    std::shared_ptr<FakeGitService> git = std::make_shared<FakeGitService>();
    std::shared_ptr<FakeDashboard> dashboard = std::make_shared<FakeDashboard>();
    std::shared_ptr<FakeAnalytics> analytics = std::make_shared<FakeAnalytics>();
};

TEST_F(WebBridgeRouting, ConfigureMakesTheBridgeTheGitServicesSinkAndSendsTheSignInStatus) {
    auto bridge = WebBridge::create();
    auto webView = std::make_shared<RecordingWebView>();
    auto otherGit = std::make_shared<FakeGitService>();
    bridge->configure({.gitService = otherGit, .configStore = store});
    EXPECT_EQ(otherGit->sink.lock().get(), static_cast<GitServiceEventSink*>(bridge.get()));
    bridge->attachWebView(webView);
    bridge->notifyWebViewDidFinishNavigation();
    ASSERT_EQ(webView->types(), (std::vector<std::string>{"github/oauth/status"}));
    EXPECT_EQ(webView->events()[0]["payload"], Json::parse(R"({"status":"disconnected"})"));
}

TEST_F(WebBridgeRouting, BodiesThatAreNotMessagesAndInexactTypesAreIgnored) {
    for (const Json& body :
         {Json("git/status"), Json(5), Json::array({"git/status"}), Json(nullptr), Json::object(),
          Json::parse(R"({"payload":{}})"), Json::parse(R"({"type":5})"), Json::parse(R"({"type":null})"),
          message("webview/log"), message("unknown/type")}) {
        send(body);
    }
    for (const char* type :
         {"Git/status", "GIT/STATUS", " git/status", "git/status ", "git/status/", "git/", "git/unknown",
          "Dashboard.present", "dashboard.present ", "app/config/request\n"}) {
        send(message(type, withProject()));
    }
    MainQueue::shared().drain();
    EXPECT_TRUE(git->calls.empty());
    EXPECT_TRUE(dashboard->calls.empty());
    EXPECT_TRUE(loaded.webView->scripts.empty());
}

TEST_F(WebBridgeRouting, EveryGitTypeReachesItsOperation) {
    struct Case {
        const char* type;
        Json fields;
        std::string operation;
        std::string arguments;  // after the project id
    };
    const Case cases[] = {
        {"git/status", {}, "refreshStatus", ""},
        {"git/status/detail", {}, "fetchStatusDetail", ""},
        {"git/commit", {{"message", "  fix  "}}, "commit", " [  fix  ]"},
        {"git/push", {}, "push", ""},
        {"git/pull", {}, "pull", ""},
        {"git/fetch", {}, "fetch", ""},
        {"git/diff", {}, "fetchDiff", ""},
        {"git/commit/diff",
         {{"commit", "abc123"}, {"path", "src/a.c"}},
         "fetchCommitDiff",
         " abc123 src/a.c"},
        {"git/working-tree", {}, "fetchWorkingTree", ""},
        {"git/branch-map", {{"limit", 7}}, "fetchBranchMap", " 7"},
        {"git/history",
         {{"cursor", "c1"}, {"pageSize", 5}, {"requestId", "r1"}},
         "fetchCommitHistory",
         " c1 5 r1"},
        {"git/graph", {{"pageSize", 9}}, "fetchCommitGraph", " 9"},
        {"git/remote/tracking", {}, "fetchRemoteTracking", ""},
        {"git/refresh/barrier", {{"requestId", "b1"}}, "reachRefreshBarrier", " b1"},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        send(message(c.type, withProject(c.fields)));
        expected.push_back(c.operation + " " + kProject + c.arguments);
    }
    EXPECT_EQ(git->calls, expected);
}

// Only a missing identifier means the active project: one that is there but cannot be read is dropped
// like every other Git request's.
TEST_F(WebBridgeRouting, GitStatusWithoutAProjectRefreshesTheActiveOneAndAMalformedOneIsDropped) {
    send(message("git/status"));
    send(message("git/status", Json::object()));
    send(message("git/status", {{"projectId", nullptr}}));
    Json arrayPayload = message("git/status");
    arrayPayload["payload"] = Json::array({kProject});
    send(arrayPayload);
    send(message("git/status", {{"projectId", "not-a-uuid"}}));
    send(message("git/status", {{"projectId", 42}}));
    send(message("git/status", {{"projectId", kProject.substr(1)}}));
    send(message("git/push", {{"projectId", "not-a-uuid"}}));
    send(message("git/push"));
    send(message("git/fetch", {{"projectId", 42}}));
    std::string lower = kProject;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    send(message("git/status", {{"projectId", lower}}));
    std::vector<std::string> expected(4, "refreshStatus none");
    expected.push_back("refreshStatus " + kProject);
    EXPECT_EQ(git->calls, expected);
}

TEST_F(WebBridgeRouting, GitRequestsUseTheirDefaultsAndRefuseMissingRequiredFields) {
    send(message("git/branch-map", withProject()));
    send(message("git/graph", withProject()));
    send(message("git/history", withProject({{"cursorPayload", "p"}, {"cursor", "c"}, {"pageSize", "10"}})));
    send(message("git/history", withProject({{"cursor", 3}, {"pageSize", 1e300}, {"requestId", 5}})));
    send(message("git/branch-map", withProject({{"limit", 12.5}})));
    send(message("git/commit/diff", withProject({{"commit", "abc"}, {"path", 5}})));
    send(message("git/commit", withProject()));
    send(message("git/commit/diff", withProject()));
    send(message("git/refresh/barrier", withProject()));
    send(message("git/refresh/barrier", withProject({{"requestId", 1}})));
    EXPECT_EQ(git->calls, (std::vector<std::string>{
                              "fetchBranchMap " + kProject + " 50",
                              "fetchCommitGraph " + kProject + " 50",
                              "fetchCommitHistory " + kProject + " p 20 <none>",
                              "fetchCommitHistory " + kProject + " <none> 20 <none>",
                              "fetchBranchMap " + kProject + " 50",
                              "fetchCommitDiff " + kProject + " abc <none>",
                          }));
}

TEST_F(WebBridgeRouting, GitDiffTargetsKeepOnlyEntriesWithAPathAndReadTheStageExactly) {
    send(message("git/diff", withProject({{"targets", Json::parse(R"([
        {"path": "a.txt"},
        {"stage": "staged"},
        {"path": "b.txt", "stage": "STAGED"},
        {"path": "c.txt", "stage": "staged"},
        {"path": "d.txt", "stage": "head"},
        {"path": "e.txt", "stage": 3}
    ])")}})));
    send(message("git/diff", withProject({{"targets", Json::parse(R"([{"path": "a.txt"}, "b.txt"])")}})));
    send(message("git/diff", withProject({{"targets", "a.txt"}})));
    EXPECT_EQ(git->calls, (std::vector<std::string>{
                              "fetchDiff " + kProject +
                                  " a.txt:unstaged b.txt:unstaged c.txt:staged d.txt:head e.txt:unstaged",
                              "fetchDiff " + kProject,
                              "fetchDiff " + kProject,
                          }));
}

TEST_F(WebBridgeRouting, DashboardPresentReadsItsOptionsAndRunsOnALaterTurn) {
    send(message("dashboard.present"));
    send(message("dashboard.present", {{"forceRefresh", "yes"}, {"source", 4}}));
    send(message("dashboard.present", {{"forceRefresh", true}, {"source", "menu"}}));
    EXPECT_TRUE(dashboard->calls.empty());
    MainQueue::shared().drain();
    EXPECT_EQ(dashboard->calls, (std::vector<std::string>{"present noforce <none>", "present noforce <none>",
                                                          "present force menu"}));
}

TEST_F(WebBridgeRouting, DashboardMessagesDoNothingWithoutAController) {
    send(message("dashboard.dismiss"));
    MainQueue::shared().drain();
    EXPECT_EQ(dashboard->calls, (std::vector<std::string>{"dismiss"}));

    dashboard->calls.clear();
    std::weak_ptr<FakeDashboard> weak = dashboard;
    send(message("dashboard.present"));
    dashboard.reset();
    EXPECT_TRUE(weak.expired());  // the queued request does not keep the controller alive
    send(message("dashboard.dismiss"));
    MainQueue::shared().drain();
}

TEST_F(WebBridgeRouting, ConfigRequestSendsTheStoresConfigurationUntilOneWasHandedOverThenTheCachedOne) {
    send(message("app/config/request"));
    ASSERT_EQ(loaded.webView->types(), (std::vector<std::string>{"app/config", "github/oauth/status"}));
    auto first = loaded.webView->eventsOfType("app/config")[0];
    EXPECT_EQ(first["projects"].size(), store->config().projects.size());

    AppConfig handed;
    handed.columnLayout.order = {ColumnKind::git};
    loaded.bridge->updateConfigSnapshot(handed);
    store->update(false, [](AppConfig& config) { config.projects.clear(); });
    loaded.webView->scripts.clear();
    send(message("app/config/request", {{"ignored", true}}));
    auto sent = loaded.webView->eventsOfType("app/config");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["columnLayout"], Json::array({"git"}));
}

TEST_F(WebBridgeRouting, GitServiceEventsBecomePageEventsFromAnyThread) {
    GitStatusPayload status;
    status.projectId = "X";
    status.branch = "main";
    std::thread([&] {
        loaded.bridge->gitServiceDidUpdateStatus(status);
        loaded.bridge->gitServiceDidSucceed("コミットしました");
        loaded.bridge->gitServiceDidFail("failed");
        loaded.bridge->gitServiceDidLoadBranchMap(GitBranchMapPayload{});
    }).join();
    ASSERT_TRUE(loaded.webView->waitForCount(4));
    EXPECT_EQ(loaded.webView->types(),
              (std::vector<std::string>{"git/status", "git/result", "git/result", "git/branch-map"}));
    auto events = loaded.webView->events();
    EXPECT_EQ(events[0]["payload"], status.toJson());
    EXPECT_EQ(events[1]["payload"].dump(), R"({"success":true,"message":"コミットしました"})");
    EXPECT_EQ(events[2]["payload"].dump(), R"({"success":false,"message":"failed"})");
}

TEST_F(WebBridgeRouting, DashboardAndSystemMetricsEventsCarryTheirRecords) {
    loaded.bridge->emitDashboardToggled(true);
    loaded.bridge->emitDashboardMetricsError("boom");
    loaded.bridge->emitSystemMetrics({Date::fromSeconds(1738315800), 1.5, 150.0});
    loaded.bridge->emitSystemMetricsError("Failed to collect system metrics");
    auto events = loaded.webView->events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].dump(), R"({"type":"dashboard.toggled","payload":{"open":true}})");
    EXPECT_EQ(events[1].dump(), R"({"type":"dashboard.metrics.error","payload":{"message":"boom"}})");
    EXPECT_EQ(events[2].dump(), R"({"type":"system/metrics","payload":{"timestamp":"2025-01-31T09:30:00Z",)"
                                R"("cpuPercent":1.5,"memoryMB":150.0}})");
    EXPECT_EQ(events[3].dump(),
              R"({"type":"system/metrics/error","payload":{"message":"Failed to collect system metrics"}})");
}

}  // namespace
}  // namespace pelko::test
