// Preview-tab messages and the preview tabs sent on activation, with a real store and database.
#include <gtest/gtest.h>

#include <filesystem>

#include "bridge/BridgeTestSupport.hpp"
#include "config/ConfigStore.hpp"
#include "config/PreviewTabsPersistenceService.hpp"
#include "platform/SystemLogger.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {
namespace {

std::string lowerCased(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

Json snapshotJson(int version = 1) {
    return Json::parse(R"({"activeTabId":"t2","tabs":[
        {"id":"t1","path":"README.md","title":"README","isDirty":false,"viewMode":"rendered","lastOpenedAt":1},
        {"id":"t2","path":"src/main.c","title":"main.c","isDirty":true,"viewMode":"source","lastOpenedAt":2}
    ],"version":)" + std::to_string(version) +
                       "}");
}

class WebBridgePreviewTabs : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(root / "src");
        writeFile(root / "README.md", "r");
        writeFile(root / "src" / "main.c", "m");
        project = ProjectMetadata{Uuid::random(), "Alpha", root.string(), std::nullopt, {}};
        store->update(false, [&](AppConfig& config) { config.projects = {project}; });
        loaded.bridge->configure({.configStore = store, .previewTabsService = service});
        loaded.webView->scripts.clear();
    }

    std::vector<LogEntry> logs() const { return capture.entries("app.pelko.webbridge", "previewTabs"); }

    LogCapture capture;
    TempDir dir;
    std::filesystem::path root = dir / "alpha";
    ProjectMetadata project;
    LoadedBridge loaded;
    std::shared_ptr<ConfigStore> store = std::make_shared<ConfigStore>(dir / "data");
    std::shared_ptr<PreviewTabsPersistenceService> service =
        std::make_shared<PreviewTabsPersistenceService>(dir / "data");
};

TEST_F(WebBridgePreviewTabs, TabsPersistedUnderALowerCaseIdComeBackAsVersionOne) {
    loaded.bridge->handle(message("previewTabs/persist", {{"projectId", lowerCased(project.id.string())},
                                                          {"snapshot", snapshotJson(4)}}));
    EXPECT_TRUE(logs().empty());
    loaded.bridge->dispatchPreviewTabs(project.id);
    auto hydrated = loaded.webView->eventsOfType("previewTab:hydrate");
    ASSERT_EQ(hydrated.size(), 1u);
    Json expected = snapshotJson(1);
    EXPECT_EQ(hydrated[0]["snapshot"], expected);
    EXPECT_EQ(hydrated[0]["projectId"], project.id.string());
    EXPECT_TRUE(loaded.webView->eventsOfType("previewTab:warning").empty());
}

TEST_F(WebBridgePreviewTabs, MissingFilesFollowTheHydrateAsOneWarning) {
    loaded.bridge->handle(
        message("previewTabs/persist", {{"projectId", project.id.string()}, {"snapshot", snapshotJson()}}));
    std::filesystem::remove_all(root);
    loaded.bridge->dispatchPreviewTabs(project.id);
    ASSERT_EQ(loaded.webView->types(),
              (std::vector<std::string>{"previewTab:hydrate", "previewTab:warning"}));
    auto events = loaded.webView->events();
    EXPECT_EQ(events[0]["payload"]["snapshot"]["tabs"].size(), 2u);
    EXPECT_EQ(
        events[1]["payload"].dump(),
        R"({"projectId":")" + project.id.string() +
            R"(","tabs":[{"tabId":"t1","path":"README.md","code":"file_missing","message":"ファイルが見つかりません"},)"
            R"({"tabId":"t2","path":"src/main.c","code":"file_missing","message":"ファイルが見つかりません"}]})");
}

TEST_F(WebBridgePreviewTabs, BadSnapshotsAreLoggedWithTheIdAsSent) {
    std::string id = lowerCased(project.id.string());
    loaded.bridge->handle(message("previewTabs/persist", {{"projectId", id}, {"snapshot", "tabs"}}));
    loaded.bridge->handle(message("previewTabs/persist", {{"projectId", id}, {"snapshot", nullptr}}));
    loaded.bridge->handle(message("previewTabs/persist", {{"projectId", id}, {"snapshot", Json::array()}}));
    loaded.bridge->handle(
        message("previewTabs/persist", {{"projectId", id}, {"snapshot", {{"tabs", Json::array()}}}}));
    auto entries = logs();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].level, LogLevel::error);
    EXPECT_EQ(entries[0].message, "previewTabs: invalid snapshot payload for project " + id);
    EXPECT_EQ(entries[1].message, entries[0].message);
    EXPECT_EQ(entries[2].message.rfind("previewTabs: failed to persist snapshot for project " + id + ": ", 0),
              0u);
    EXPECT_NE(entries[3].message.find("version"), std::string::npos);
    EXPECT_TRUE(loaded.webView->scripts.empty());
}

// Fault mended: snapshots had no bound, and every activation checked each stored tab on disk.
TEST_F(WebBridgePreviewTabs, SnapshotsBeyondTheBoundOfTabsOrBytesAreRefused) {
    auto snapshotOf = [](std::size_t tabs, std::size_t titleBytes) {
        Json list = Json::array();
        for (std::size_t i = 0; i < tabs; ++i)
            list.push_back({{"id", "t" + std::to_string(i)},
                            {"path", "README.md"},
                            {"title", std::string(titleBytes, 't')},
                            {"isDirty", false},
                            {"viewMode", "source"},
                            {"lastOpenedAt", 1}});
        return Json{{"tabs", list}, {"version", 1}};
    };
    const std::string id = project.id.string();
    loaded.bridge->handle(
        message("previewTabs/persist",
                {{"projectId", id}, {"snapshot", snapshotOf(PreviewTabsState::maxTabs + 1, 1)}}));
    loaded.bridge->handle(
        message("previewTabs/persist", {{"projectId", id}, {"snapshot", snapshotOf(4, 300000)}}));
    auto entries = logs();
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& entry : entries)
        EXPECT_EQ(entry.message, "previewTabs: invalid snapshot payload for project " + id);
    EXPECT_TRUE(service->hydrateSnapshot(project).state.tabs.empty());

    loaded.bridge->handle(message(
        "previewTabs/persist", {{"projectId", id}, {"snapshot", snapshotOf(PreviewTabsState::maxTabs, 1)}}));
    EXPECT_EQ(logs().size(), 2u);
    EXPECT_EQ(service->hydrateSnapshot(project).state.tabs.size(), PreviewTabsState::maxTabs);
}

TEST_F(WebBridgePreviewTabs, PersistOrHydrateForAnUnknownProjectOrWithoutItsFieldsDoesNothing) {
    loaded.bridge->handle(
        message("previewTabs/persist", {{"projectId", Uuid::random().string()}, {"snapshot", "x"}}));
    loaded.bridge->handle(
        message("previewTabs/persist", {{"projectId", "nope"}, {"snapshot", snapshotJson()}}));
    loaded.bridge->handle(message("previewTabs/persist", {{"projectId", project.id.string()}}));
    loaded.bridge->handle(message("previewTabs/persist"));
    EXPECT_TRUE(logs().empty());
    loaded.bridge->dispatchPreviewTabs(Uuid::random());
    EXPECT_TRUE(loaded.webView->scripts.empty());  // nothing is sent for an unknown project
    loaded.bridge->dispatchPreviewTabs(project.id);
    EXPECT_EQ(loaded.webView->eventsOfType("previewTab:hydrate")[0]["snapshot"]["tabs"].size(), 0u);
}

TEST_F(WebBridgePreviewTabs, NoticesAreLoggedOnceForAnyTextId) {
    loaded.bridge->handle(message("previewTabs/limitReached", {{"projectId", 42}}));
    loaded.bridge->handle(message("previewTabs/limitReached", {{"projectId", "not-a-uuid"}}));
    loaded.bridge->handle(message("previewTabs/cache/write", {{"projectId", "P"}}));
    loaded.bridge->handle(message("previewTabs/cache/write"));
    auto entries = logs();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].level, LogLevel::notice);
    EXPECT_EQ(entries[0].message, "previewTabs: limit reached for project not-a-uuid");
    EXPECT_EQ(entries[1].message, "previewTabs: session cache write for project P");
}

}  // namespace
}  // namespace pelko::test
