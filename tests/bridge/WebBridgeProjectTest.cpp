// Project requests, explorer watching and listing, and the file queue's ordering, against a real
// configuration store, explorer service and project folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "bridge/BridgeTestSupport.hpp"
#include "bridge/ProjectFileOperations.hpp"
#include "config/ConfigStore.hpp"
#include "config/PreviewTabsPersistenceService.hpp"
#include "config/ProjectTab.hpp"
#include "explorer/ExplorerService.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace pelko::test {
namespace {

// Records, at each refresh, how many scripts the page had received by then.
class OrderingGitService : public FakeGitService {
  public:
    explicit OrderingGitService(RecordingWebView& webView) : webView_(webView) {}
    void refreshStatus(const std::optional<Uuid>& projectID) override {
        FakeGitService::refreshStatus(projectID);
        scriptsAtRefresh.push_back(webView_.scripts.size());
    }
    std::vector<std::size_t> scriptsAtRefresh;

  private:
    RecordingWebView& webView_;
};

class WebBridgeProject : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(rootA / "src");
        writeFile(rootA / "README.md", "hello");
        fs::create_directories(rootB);
        projectA = ProjectMetadata{Uuid::random(), "Alpha", rootA.string(), std::nullopt, {}};
        projectB = ProjectMetadata{Uuid::random(), "Beta", rootB.string(), std::nullopt, {}};
        projectGone = ProjectMetadata{Uuid::random(), "Gone", (dir / "missing").string(), std::nullopt, {}};
        store->update(false, [&](AppConfig& config) {
            config.projects = {projectA, projectB, projectGone};
            config.activeProjectID = projectA.id;
            config.cliSessions.clear();
        });
        previewTabs = std::make_shared<PreviewTabsPersistenceService>(dir / "data");
        loaded.bridge->configure({.gitService = git,
                                  .configStore = store,
                                  .previewTabsService = previewTabs,
                                  .dashboardController = dashboard});
        loaded.bridge->setFolderPicker(picker);
        loaded.webView->scripts.clear();
    }

    void send(const Json& body) { loaded.bridge->handle(body); }
    bool waitForScripts(std::size_t count) { return loaded.webView->waitForCount(count); }

    TempDir dir;
    fs::path rootA = dir / "alpha";
    fs::path rootB = dir / "beta";
    ProjectMetadata projectA, projectB, projectGone;
    LoadedBridge loaded;
    std::shared_ptr<ConfigStore> store = std::make_shared<ConfigStore>(dir / "data");
    std::shared_ptr<PreviewTabsPersistenceService> previewTabs;
    std::shared_ptr<OrderingGitService> git = std::make_shared<OrderingGitService>(*loaded.webView);
    std::shared_ptr<FakeDashboard> dashboard = std::make_shared<FakeDashboard>();
    std::shared_ptr<FakeFolderPicker> picker = std::make_shared<FakeFolderPicker>();
};

TEST_F(WebBridgeProject, ActivateNeedsTheIdUnderItsOwnKey) {
    send(message("project/activate", {{"projectId", projectB.id.string()}}));
    MainQueue::shared().drain();
    EXPECT_FALSE(loaded.bridge->activeProjectID());
    EXPECT_TRUE(git->calls.empty());
    EXPECT_EQ(store->config().activeProjectID, projectA.id);
}

TEST_F(WebBridgeProject, ActivateAKnownProjectActivatesWatchesHydratesNotesAndThenRefreshes) {
    send(message("project/activate", {{"id", projectB.id.string()}}));
    EXPECT_EQ(store->config().activeProjectID, projectB.id);
    EXPECT_EQ(loaded.bridge->activeProjectID(), projectB.id);
    EXPECT_EQ(loaded.bridge->monitoredExplorerProjectID(), projectB.id);
    ASSERT_EQ(loaded.webView->types(), (std::vector<std::string>{"previewTab:hydrate"}));
    EXPECT_EQ(loaded.webView->events()[0]["payload"].dump(),
              R"({"projectId":")" + projectB.id.string() + R"(","snapshot":{"tabs":[],"version":1}})");
    // The refresh comes after the activation's own steps.
    EXPECT_EQ(git->calls, (std::vector<std::string>{"refreshStatus " + projectB.id.string()}));
    EXPECT_EQ(git->scriptsAtRefresh, (std::vector<std::size_t>{1}));
    MainQueue::shared().drain();
    EXPECT_EQ(dashboard->calls,
              (std::vector<std::string>{"noteCardOpened " + projectB.id.string() + " Beta"}));
}

TEST_F(WebBridgeProject, ActivateAnUnknownProjectStillGoesThroughEveryStep) {
    loaded.bridge->activateExplorerMonitoring(projectA.id);
    ASSERT_EQ(loaded.bridge->monitoredExplorerProjectID(), projectA.id);
    Uuid unknown = Uuid::random();
    send(message("project/activate", {{"id", unknown.string()}}));
    EXPECT_EQ(loaded.bridge->activeProjectID(), unknown);
    EXPECT_FALSE(loaded.bridge->monitoredExplorerProjectID());
    EXPECT_EQ(store->config().activeProjectID, projectA.id);
    EXPECT_TRUE(loaded.webView->scripts.empty());
    EXPECT_EQ(git->calls, (std::vector<std::string>{"refreshStatus " + unknown.string()}));
    MainQueue::shared().drain();
    EXPECT_EQ(dashboard->calls, (std::vector<std::string>{"noteCardOpened " + unknown.string() + " <none>"}));
}

TEST_F(WebBridgeProject, ActivationPublishesTheActiveProject) {
    std::vector<std::optional<Uuid>> seen;
    auto subscription =
        loaded.bridge->subscribeActiveProjectID([&](const std::optional<Uuid>& id) { seen.push_back(id); });
    loaded.bridge->notifyProjectActivated(
        ProjectTab{projectA.id, "Alpha", "~/alpha", ProjectTab::Status::running});
    EXPECT_EQ(seen, (std::vector<std::optional<Uuid>>{std::nullopt, projectA.id}));
    EXPECT_EQ(loaded.webView->types(), (std::vector<std::string>{"project/activate", "previewTab:hydrate"}));
    EXPECT_EQ(loaded.webView->events()[0]["payload"].dump(),
              R"({"id":")" + projectA.id.string() + R"(","name":"Alpha","rootPath":"~/alpha"})");
    EXPECT_EQ(loaded.bridge->monitoredExplorerProjectID(), projectA.id);
}

TEST_F(WebBridgeProject, ReactivatingTheWatchedProjectKeepsItsWatchRunning) {
    loaded.bridge->activateExplorerMonitoring(projectA.id);
    loaded.bridge->activateExplorerMonitoring(projectA.id);
    // In the root: its watch exists once activation returns (sub-folders are watched moments later).
    writeFile(rootA / "new.txt", "x");
    auto sawRootChange = [&] {
        for (const auto& changed : loaded.webView->eventsOfType("project/explorer/changed")) {
            const Json& paths = changed["directoryPaths"];
            bool root = std::find(paths.begin(), paths.end(), Json("")) != paths.end();
            if (root && changed["projectId"] == projectA.id.string() && changed["requiresResync"] == false)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(MainQueue::shared().drainUntil(sawRootChange));
}

// A watcher whose loss of its root the test decides (one that could not wait for the root's return).
class RootLosingWatcher final : public ExplorerEventWatching {
  public:
    RootLosingWatcher(std::shared_ptr<std::atomic<bool>> rootWatched, int& starts)
        : rootWatched_(std::move(rootWatched)), starts_(starts) {}
    bool start(Handler) override { return ++starts_ > 0; }
    void stop() override {}
    bool isWatchingRoot() const override { return *rootWatched_; }

  private:
    std::shared_ptr<std::atomic<bool>> rootWatched_;
    int& starts_;
};

TEST_F(WebBridgeProject, ActivatingTheWatchedProjectRestartsAWatchThatLostItsRoot) {
    auto rootWatched = std::make_shared<std::atomic<bool>>(true);
    int starts = 0;
    auto explorer =
        std::make_shared<ExplorerService>(ExplorerService::defaultDebounceInterval, nullptr, nullptr,
                                          [&](const fs::path&, const ExplorerExclusionRules&) {
                                              return std::make_unique<RootLosingWatcher>(rootWatched, starts);
                                          });
    auto bridge = WebBridge::create(nullptr, explorer);
    bridge->configure({.configStore = store});
    bridge->activateExplorerMonitoring(projectA.id);
    bridge->activateExplorerMonitoring(projectA.id);
    EXPECT_EQ(starts, 1);
    rootWatched->store(false);
    bridge->activateExplorerMonitoring(projectA.id);
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(bridge->monitoredExplorerProjectID(), projectA.id);
}

TEST_F(WebBridgeProject, SwitchingToAProjectWithoutItsFolderLeavesNothingWatched) {
    loaded.bridge->activateExplorerMonitoring(projectA.id);
    loaded.bridge->activateExplorerMonitoring(projectGone.id);
    EXPECT_FALSE(loaded.bridge->monitoredExplorerProjectID());
    writeFile(rootA / "late.txt", "x");
    MainQueue::shared().drainUntil([] { return false; }, std::chrono::milliseconds(700));
    EXPECT_TRUE(loaded.webView->scripts.empty());
}

TEST_F(WebBridgeProject, ClosingStopsTheWatchOnlyForTheWatchedProjectAndAReopenWatchesAgain) {
    loaded.bridge->activateExplorerMonitoring(projectA.id);
    send(message("project/close", {{"projectId", projectB.id.string()}}));
    EXPECT_EQ(loaded.bridge->monitoredExplorerProjectID(), projectA.id);
    send(message("project/close", {{"projectId", Uuid::random().string()}}));
    EXPECT_EQ(loaded.bridge->monitoredExplorerProjectID(), projectA.id);
    send(message("project/close", {{"projectId", projectA.id.string()}}));
    EXPECT_FALSE(loaded.bridge->monitoredExplorerProjectID());
    EXPECT_FALSE(store->project(projectA.id));
    EXPECT_TRUE(git->calls.empty());

    store->update(false, [&](AppConfig& config) { config.projects.push_back(projectA); });
    loaded.bridge->activateExplorerMonitoring(projectA.id);
    EXPECT_EQ(loaded.bridge->monitoredExplorerProjectID(), projectA.id);
}

TEST_F(WebBridgeProject, ReorderPassesValidIdsInOrderAndIgnoresAListWithoutAny) {
    send(message("project/reorder", {{"order", Json::array({"nope", "also-nope"})}}));
    send(message("project/reorder", {{"order", Json::array({projectB.id.string(), 5})}}));
    EXPECT_EQ(store->config().projects.front().id, projectA.id);
    send(message("project/reorder",
                 {{"order", Json::array({"junk", projectGone.id.string(), projectGone.id.string(),
                                         projectB.id.string()})}}));
    auto projects = store->config().projects;
    ASSERT_EQ(projects.size(), 3u);
    EXPECT_EQ(projects[0].id, projectGone.id);
    EXPECT_EQ(projects[1].id, projectB.id);
    EXPECT_EQ(projects[2].id, projectA.id);
}

TEST_F(WebBridgeProject, ResumeWithNothingToResumeSendsOneError) {
    store->update(false, [](AppConfig& config) {
        config.projects.clear();
        config.resumeProjects.clear();
    });
    send(message("project/resume"));
    ASSERT_EQ(loaded.webView->types(), (std::vector<std::string>{"project/resume/error"}));
    EXPECT_EQ(loaded.webView->events()[0]["payload"].dump(),
              R"({"reason":"no-projects","message":"復元できるプロジェクトが見つかりません"})");
    EXPECT_TRUE(git->calls.empty());
}

TEST_F(WebBridgeProject, ResumeRefreshesTheRestoredActiveProjectAndReportsAMissingStore) {
    send(message("project/close", {{"projectId", projectB.id.string()}}));
    send(message("project/close", {{"projectId", projectGone.id.string()}}));
    send(message("project/close", {{"projectId", projectA.id.string()}}));
    send(message("project/resume"));
    EXPECT_EQ(store->config().projects.size(), 1u);
    EXPECT_EQ(git->calls, (std::vector<std::string>{"refreshStatus " + projectA.id.string()}));

    store.reset();
    send(message("project/resume"));
    auto errors = loaded.webView->eventsOfType("project/resume/error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["reason"], "config-unavailable");
    EXPECT_EQ(errors[0]["message"], "設定を読み込めませんでした");
}

TEST_F(WebBridgeProject, OpenRefreshesEveryOpenedProjectInTheStoresOrder) {
    fs::path one = dir / "one", two = dir / "two", three = dir / "three";
    for (const auto& folder : {one, two, three}) fs::create_directories(folder);
    send(message("project/open"));
    ASSERT_TRUE(picker->pending);
    picker->pending({three, one, two});
    std::vector<std::string> expected;
    for (const auto& folder : {three, one, two}) {
        auto config = store->config();
        auto found = std::find_if(config.projects.begin(), config.projects.end(),
                                  [&](const ProjectMetadata& p) { return p.rootPath == folder.string(); });
        ASSERT_NE(found, config.projects.end());
        expected.push_back("refreshStatus " + found->id.string());
    }
    EXPECT_EQ(git->calls, expected);

    git->calls.clear();
    send(message("project/open"));
    picker->pending({});
    EXPECT_TRUE(git->calls.empty());
}

TEST_F(WebBridgeProject, DirectoryRequestsAreDeduplicatedCappedAndAnswered) {
    send(message("project/explorer/directories/request",
                 {{"projectId", projectA.id.string()},
                  {"paths", Json::array({"src", "", "src", "missing"})},
                  {"requestId", "r1"}}));
    ASSERT_TRUE(waitForScripts(1));
    auto reply = loaded.webView->eventsOfType("project/explorer/directories").at(0);
    EXPECT_EQ(reply["projectId"], projectA.id.string());
    EXPECT_EQ(reply["requestId"], "r1");
    ASSERT_EQ(reply["directories"].size(), 3u);
    EXPECT_EQ(reply["directories"][0]["path"], "src");
    EXPECT_FALSE(reply["directories"][0].contains("error"));
    EXPECT_EQ(reply["directories"][1]["nodes"][0]["name"], "src");
    EXPECT_EQ(reply["directories"][2]["error"], "notFound");

    Json many = Json::array();
    for (int i = 0; i < 600; ++i) many.push_back("dir" + std::to_string(i));
    send(message("project/explorer/directories/request",
                 {{"projectId", projectA.id.string()}, {"paths", many}}));
    ASSERT_TRUE(waitForScripts(2));
    auto capped = loaded.webView->eventsOfType("project/explorer/directories").at(1);
    ASSERT_EQ(capped["directories"].size(), 512u);
    EXPECT_EQ(capped["directories"][511]["path"], "dir511");
    EXPECT_TRUE(Uuid::parse(capped["requestId"].get<std::string>()));
}

TEST_F(WebBridgeProject, MalformedDirectoryRequestsSendNothing) {
    send(message("project/explorer/directories/request",
                 {{"projectId", projectA.id.string()}, {"paths", Json::array()}}));
    send(message("project/explorer/directories/request",
                 {{"projectId", projectA.id.string()}, {"paths", Json::array({"a", 1})}}));
    send(
        message("project/explorer/directories/request", {{"projectId", "x"}, {"paths", Json::array({"a"})}}));
    send(message("project/explorer/directories/request", {{"paths", Json::array({"a"})}}));
    MainQueue::shared().drainUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_TRUE(loaded.webView->scripts.empty());
}

TEST_F(WebBridgeProject, AnUnknownProjectsListingIsAnsweredLaterWithInvalidProjectEntries) {
    Uuid unknown = Uuid::random();
    send(message("project/explorer/directories/request",
                 {{"projectId", unknown.string()}, {"paths", Json::array({"a/b", ""})}, {"requestId", ""}}));
    EXPECT_TRUE(loaded.webView->scripts.empty());
    ASSERT_TRUE(waitForScripts(1));
    EXPECT_EQ(loaded.webView->events()[0]["payload"].dump(),
              R"({"projectId":")" + unknown.string() +
                  R"(","requestId":"","directories":[{"path":"a/b","nodes":[],"error":"invalidProject"},)"
                  R"({"path":"","nodes":[],"error":"invalidProject"}]})");
}

TEST_F(WebBridgeProject, FileRequestsRunInOrderOnTheFileQueueAndAnswerOnTheMainThread) {
    std::string id = projectA.id.string();
    send(message("project/file/save", {{"projectId", id}, {"path", "notes.txt"}, {"content", "first"}}));
    send(message("project/file/open", {{"projectId", id}, {"path", "notes.txt"}}));
    send(message("project/file/save", {{"projectId", id}, {"path", "notes.txt"}, {"content", "second"}}));
    send(message("project/explorer/directories/request", {{"projectId", id}, {"paths", Json::array({""})}}));
    send(message("project/file/open", {{"projectId", id}, {"path", "notes.txt"}}));
    EXPECT_TRUE(loaded.webView->scripts.empty());
    ASSERT_TRUE(waitForScripts(5));
    EXPECT_EQ(loaded.webView->types(),
              (std::vector<std::string>{"project/file/saved", "project/file/content", "project/file/saved",
                                        "project/explorer/directories", "project/file/content"}));
    auto contents = loaded.webView->eventsOfType("project/file/content");
    EXPECT_EQ(contents[0]["content"], "first");
    EXPECT_EQ(contents[1]["content"], "second");
    auto listing = loaded.webView->eventsOfType("project/explorer/directories")[0];
    bool listed = false;
    for (const auto& node : listing["directories"][0]["nodes"])
        listed = listed || node["name"] == "notes.txt";
    EXPECT_TRUE(listed);
}

TEST_F(WebBridgeProject, FileRequestsNeedTheirFieldsAndLargeFilesNeedABooleanPermission) {
    std::string id = projectA.id.string();
    send(message("project/file/open", {{"projectId", id}}));
    send(message("project/file/open", {{"projectId", id}, {"path", 5}}));
    send(message("project/file/save", {{"projectId", id}, {"path", "a.txt"}}));
    send(message("project/file/rename", {{"projectId", id}, {"path", "README.md"}}));

    // A sparse file just over the confirmation limit.
    std::string big = (rootA / "big.log").string();
    writeFile(big, "");
    ASSERT_EQ(truncate(big.c_str(), ProjectFileOperations::softLimitBytes + 1), 0);
    send(message("project/file/open", {{"projectId", id}, {"path", "big.log"}}));
    send(message("project/file/open", {{"projectId", id}, {"path", "big.log"}, {"allowLargeFile", "yes"}}));
    ASSERT_TRUE(waitForScripts(2));
    EXPECT_EQ(loaded.webView->types(),
              (std::vector<std::string>{"project/file/confirm", "project/file/confirm"}));
    EXPECT_FALSE(fs::exists(rootA / "a.txt"));
}

TEST_F(WebBridgeProject, ASuccessfulRenameAnswersThenRefreshesGitStatus) {
    send(message("project/file/rename", {{"projectId", projectA.id.string()},
                                         {"path", "README.md"},
                                         {"nextPath", "GUIDE.md"},
                                         {"entityType", "folder"}}));
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return !git->calls.empty(); }));
    EXPECT_EQ(loaded.webView->types(),
              (std::vector<std::string>{"project/file/renamed", "project/explorer/changed"}));
    EXPECT_EQ(git->calls, (std::vector<std::string>{"refreshStatus " + projectA.id.string()}));
    EXPECT_EQ(git->scriptsAtRefresh, (std::vector<std::size_t>{2}));
    EXPECT_EQ(loaded.webView->eventsOfType("project/file/renamed")[0]["entityType"], "file");
    EXPECT_TRUE(fs::exists(rootA / "GUIDE.md"));
}

TEST_F(WebBridgeProject, RequestsForAProjectWithoutItsFolderAreAnsweredLaterWithoutTheFileQueue) {
    std::string id = projectGone.id.string();
    send(message("project/file/open", {{"projectId", id}, {"path", "a.txt"}}));
    send(message("project/file/save", {{"projectId", id}, {"path", "a.txt"}, {"content", "x"}}));
    send(message("project/file/rename", {{"projectId", id}, {"path", "a.txt"}, {"nextPath", "b.txt"}}));
    EXPECT_TRUE(loaded.webView->scripts.empty());
    ASSERT_TRUE(waitForScripts(3));
    auto errors = loaded.webView->eventsOfType("project/file/error");
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0]["message"], "プロジェクトのルートが見つかりませんでした");
    EXPECT_FALSE(errors[0].contains("code"));
    EXPECT_EQ(errors[2]["code"], "rename_invalid_project");
    EXPECT_TRUE(git->calls.empty());
}

TEST_F(WebBridgeProject, QueuedFileWorkIsDroppedWhenTheBridgeGoesAway) {
    auto webView = loaded.webView;
    send(message("project/file/save",
                 {{"projectId", projectA.id.string()}, {"path", "late.txt"}, {"content", "x"}}));
    loaded.bridge.reset();
    MainQueue::shared().drainUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_TRUE(webView->scripts.empty());
}

}  // namespace
}  // namespace pelko::test
