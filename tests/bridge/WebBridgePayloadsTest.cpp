// The bridge's payload records as the page receives them, the configuration snapshot, the terminal
// events and the column pinch.
#include <gtest/gtest.h>

#include <limits>

#include "bridge/BridgePayloads.hpp"
#include "bridge/BridgeTestSupport.hpp"
#include "config/AppConfig.hpp"

namespace pelko::test {
namespace {

std::vector<std::string> keysOf(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

TEST(BridgePayloads, OptionalFieldsAreLeftOutRatherThanNull) {
    EXPECT_EQ((TerminalStatusPayload{"S", "ready", std::nullopt}.toJson().dump()),
              R"({"sessionId":"S","status":"ready"})");
    EXPECT_EQ((TerminalStatusPayload{"S", "terminated", 3}.toJson().dump()),
              R"({"sessionId":"S","status":"terminated","exitCode":3})");
    EXPECT_EQ(keysOf((ExplorerChangedPayload{"P", {""}, true}.toJson())),
              (std::vector<std::string>{"projectId", "directoryPaths", "requiresResync"}));
    EXPECT_EQ(keysOf((ExplorerDirectoriesPayload{"P", "R", {}}.toJson())),
              (std::vector<std::string>{"projectId", "requestId", "directories"}));
}

AppConfig configWithProjects() {
    AppConfig config;
    Uuid alpha = *Uuid::parse("aaaaaaaa-0000-4000-8000-000000000001");
    config.projects = {
        ProjectMetadata{alpha, "Alpha", "~/code/alpha", std::string("not sent"), {"dist", "a/b"}}};
    config.columnLayout.order = ColumnLayout::defaultOrder();
    config.cliSessions = {CLISessionConfig{*Uuid::parse("bbbbbbbb-0000-4000-8000-000000000002"), "CLI #1",
                                           "/home/u", "/bin/zsh", alpha},
                          CLISessionConfig{*Uuid::parse("cccccccc-0000-4000-8000-000000000003"), "CLI #2",
                                           "/tmp", "/bin/bash", std::nullopt}};
    config.enabledFeatures = {AppConfig::Feature::terminalV2};
    return config;
}

TEST(BridgePayloads, TheConfigurationSnapshotWithoutActiveOrResumeProjects) {
    Json snapshot = ConfigSnapshotPayload::from(configWithProjects()).toJson();
    EXPECT_EQ(keysOf(snapshot), (std::vector<std::string>{"projects", "columnLayout", "cliSessions",
                                                          "features", "hasSavedWorkspace"}));
    EXPECT_EQ(snapshot["hasSavedWorkspace"], false);
    EXPECT_EQ(snapshot["projects"][0].dump(),
              R"({"id":"AAAAAAAA-0000-4000-8000-000000000001","name":"Alpha","rootPath":"~/code/alpha",)"
              R"("explorerExcludedPaths":["dist","a/b"]})");
    EXPECT_EQ(snapshot["columnLayout"], Json::parse(R"(["explorer","preview","editor","terminal"])"));
    EXPECT_EQ(snapshot["cliSessions"][0].dump(),
              R"({"id":"BBBBBBBB-0000-4000-8000-000000000002","title":"CLI #1","workingDirectory":"/home/u",)"
              R"("status":"pending","projectId":"AAAAAAAA-0000-4000-8000-000000000001"})");
    EXPECT_EQ(keysOf(snapshot["cliSessions"][1]),
              (std::vector<std::string>{"id", "title", "workingDirectory", "status"}));
    EXPECT_EQ(snapshot["features"], Json::array({"terminal.v2"}));
}

TEST(BridgePayloads, TheConfigurationSnapshotWithActiveAndResumeProjects) {
    AppConfig config = configWithProjects();
    config.activeProjectID = config.projects[0].id;
    config.resumeProjects = config.projects;
    Json snapshot = ConfigSnapshotPayload::from(config).toJson();
    EXPECT_EQ(keysOf(snapshot),
              (std::vector<std::string>{"projects", "activeProjectId", "columnLayout", "cliSessions",
                                        "features", "hasSavedWorkspace", "resumeProjects"}));
    EXPECT_EQ(snapshot["activeProjectId"], "AAAAAAAA-0000-4000-8000-000000000001");
    EXPECT_EQ(snapshot["hasSavedWorkspace"], true);
    EXPECT_EQ(snapshot["resumeProjects"].size(), 1u);
}

TEST(BridgePayloads, TerminalEventsCarryTheBridgesRecords) {
    LoadedBridge loaded;
    const std::string id = "BBBBBBBB-0000-4000-8000-000000000002";
    std::vector<std::uint8_t> raw = {'o', 'k', 0xff, 0x00, '\n'};
    loaded.bridge->dispatchTerminalOutput(id, raw);
    loaded.bridge->dispatchTerminalActivity(id);
    loaded.bridge->dispatchTerminalStatus(id, "terminated", -9);
    loaded.bridge->dispatchTerminalExit(id, -9);
    loaded.bridge->dispatchTerminalError(id, "書き込みに失敗しました");
    loaded.bridge->dispatchTerminalResize(id, 120, 40);
    TerminalSnapshotPayload snapshot;
    snapshot.sessions.push_back(
        {id, "CLI #1", "~", "unavailable", std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    loaded.bridge->dispatchTerminalSnapshot(snapshot);
    auto events = loaded.webView->events();
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[0]["payload"].dump(),
              R"({"sessionId":")" + id + R"(","chunk":"b2v/AAo=","encoding":"base64"})");
    EXPECT_EQ(events[1].dump(), R"({"type":"terminal/activity","payload":{"sessionId":")" + id + R"("}})");
    EXPECT_EQ(events[2]["payload"]["exitCode"], -9);
    EXPECT_EQ(events[3]["payload"].dump(), R"({"sessionId":")" + id + R"(","exitCode":-9})");
    EXPECT_EQ(events[4]["payload"]["recoverable"], true);
    EXPECT_EQ(events[5]["payload"].dump(), R"({"sessionId":")" + id + R"(","cols":120,"rows":40})");
    EXPECT_EQ(events[6]["type"], "terminal/snapshot");
    EXPECT_EQ(events[6]["payload"]["sessions"][0]["status"], "unavailable");
}

TEST(BridgePayloads, AColumnPinchIsLoggedAndSentWithAllItsNumbersUnlessOneIsNotFinite) {
    LoadedBridge loaded;
    auto analytics = std::make_shared<FakeAnalytics>();
    loaded.bridge->configure({.analyticsLogger = analytics});
    loaded.webView->scripts.clear();
    // The bridge never looks at the reporting gesture bridge; any object stands in for it.
    alignas(std::max_align_t) unsigned char stand[16] = {};
    auto& gestureBridge = *reinterpret_cast<GestureBridge*>(stand);
    ColumnPinchEvent pinch{ColumnPinchEvent::Direction::expand, 1700000000.5, 0.25, 10, 20, 0.1, 0.2, 2};
    loaded.bridge->gestureBridgeDidDetect(gestureBridge, pinch);
    pinch.direction = ColumnPinchEvent::Direction::collapse;
    pinch.magnitude = std::numeric_limits<double>::infinity();
    loaded.bridge->gestureBridgeDidDetect(gestureBridge, pinch);

    ASSERT_EQ(loaded.webView->scripts.size(), 1u);
    EXPECT_EQ(
        loaded.webView->events()[0]["payload"].dump(),
        R"({"direction":"expand","magnitude":0.25,"normalizedX":0.1,"normalizedY":0.2,"locationX":10.0,)"
        R"("locationY":20.0,"scaleFactor":2.0,"timestamp":1700000000.5})");
    ASSERT_EQ(analytics->entries.size(), 2u);
    EXPECT_EQ(analytics->entries[0].first, "column_pinch_gesture");
    EXPECT_EQ(analytics->entries[0].second, (AnalyticsProperties{{"direction", std::string("expand")},
                                                                 {"magnitude", 0.25},
                                                                 {"normalizedX", 0.1},
                                                                 {"normalizedY", 0.2}}));
    EXPECT_EQ(std::get<std::string>(analytics->entries[1].second.at("direction")), "collapse");
}

}  // namespace
}  // namespace pelko::test
