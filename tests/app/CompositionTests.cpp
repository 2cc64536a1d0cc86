#include <gtest/gtest.h>

#include <algorithm>

#include "app/AppServices.hpp"
#include "app/ContentView.hpp"
#include "app/FakeEventMonitoring.hpp"
#include "app/InputCommandCenter.hpp"
#include "bridge/BridgeTestSupport.hpp"
#include "config/AppConfig.hpp"
#include "config/ConfigStore.hpp"
#include "platform/MainQueue.hpp"
#include "platform/XdgFolders.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

std::vector<std::string> activatedNames(const test::RecordingWebView& page) {
    std::vector<std::string> names;
    for (const auto& payload : page.eventsOfType("project/activate")) names.push_back(payload["name"]);
    return names;
}

ProjectMetadata project(const char* name) {
    ProjectMetadata metadata;
    metadata.id = Uuid::random();
    metadata.name = name;
    metadata.rootPath = (test::testRoot() / "home" / name).string();
    std::filesystem::create_directories(metadata.rootPath);
    return metadata;
}

// Writes the configuration file the services read on start.
void storeProjects(const std::vector<ProjectMetadata>& projects, std::optional<Uuid> active) {
    AppConfig stored = AppConfig::builtInDefault(XdgFolders::process().home.string());
    stored.projects = projects;
    stored.activeProjectID = active;
    stored.cliSessions.clear();
    test::writeFile(XdgFolders::process().appData() / "config.json", stored.toJson().dump());
}

std::shared_ptr<test::RecordingWebView> loadedPage(const AppServices& services) {
    auto page = std::make_shared<test::RecordingWebView>();
    services.bridge->attachWebView(page);
    services.bridge->notifyWebViewDidFinishNavigation();
    // The wiring's sign-in status comes from the keyring queue.
    EXPECT_TRUE(MainQueue::shared().drainUntil([&] {
        auto types = page->types();
        return std::find(types.begin(), types.end(), "github/oauth/status") != types.end();
    }));
    return page;
}

TEST(CompositionTest, WiringHoldsTheFirstEventsUntilThePageLoads) {
    std::filesystem::remove(XdgFolders::process().appData() / "config.json");
    AppServices services = AppServices::build();
    auto page = std::make_shared<test::RecordingWebView>();
    services.bridge->attachWebView(page);
    EXPECT_TRUE(page->types().empty());
    services.bridge->notifyWebViewDidStartNavigation();
    services.bridge->notifyWebViewDidFinishNavigation();
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] {
        auto types = page->types();
        return types.size() >= 3 &&
               std::find(types.begin(), types.end(), "github/oauth/status") != types.end();
    }));
    auto types = page->types();
    // The sign-in status keeps its place after the snapshot unless the keyring took longer than the
    // bridge holds a place for it (a loaded machine); then it follows when it comes.
    auto status = std::find(types.begin(), types.end(), "github/oauth/status");
    EXPECT_GE(status - types.begin(), 1);
    types.erase(status);
    EXPECT_EQ(std::vector<std::string>(types.begin(), types.begin() + 2),
              (std::vector<std::string>{"terminal/snapshot", "system/metrics"}));
    // The first snapshot describes the built-in default's one session.
    EXPECT_EQ(page->events()[0]["payload"]["sessions"][0]["title"], "CLI #1");
}

TEST(CompositionTest, ContentViewActivatesTheStoredProjectAndSwitches) {
    auto a = project("Alpha");
    auto b = project("Beta");
    storeProjects({a, b}, b.id);
    AppServices services = AppServices::build();
    auto page = loadedPage(services);
    page->scripts.clear();

    auto events = std::make_shared<test::FakeEventMonitoring>();
    auto center = InputCommandCenter::create(events);
    auto view =
        ContentView::create(services.bridge, services.configStore, center, services.terminalService, nullptr);
    view->appear();
    // Before the file is read, the built-in default's first sample project is shown (once the sign-in
    // status that follows its configuration has come from the keyring queue).
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return !activatedNames(*page).empty(); }));
    const std::string sample = activatedNames(*page).front();
    EXPECT_NE(sample, "Beta");

    // The switch ends with a terminal snapshot; a sign-in status the keyring answered late may follow it.
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] {
        auto types = page->types();
        std::erase(types, "github/oauth/status");
        return view->activeProjectID() == b.id && !types.empty() && types.back() == "terminal/snapshot";
    }));
    EXPECT_EQ(activatedNames(*page), (std::vector<std::string>{sample, "Beta"}));
    // Each configuration is followed by a sign-in status from the keyring, in its place when the keyring
    // answers within the bridge's hold (the bridge's tests pin that down; a loaded machine may not).
    EXPECT_EQ(page->types().front(), "app/config");
    EXPECT_EQ(events->monitorCount(), 2u);

    // "Next Project" from the last project wraps to the first, activating it exactly once.
    page->scripts.clear();
    center->onNextProject();
    EXPECT_EQ(services.configStore->config().activeProjectID, a.id);
    // Held behind the sign-in status that follows the configuration until the keyring queue answers.
    EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return !activatedNames(*page).empty(); }));
    EXPECT_EQ(activatedNames(*page), std::vector<std::string>{"Alpha"});
    center->onPreviousProject();
    EXPECT_TRUE(MainQueue::shared().drainUntil([&] { return activatedNames(*page).size() >= 2; }));
    EXPECT_EQ(activatedNames(*page), (std::vector<std::string>{"Alpha", "Beta"}));

    view->disappear();
    EXPECT_EQ(events->monitorCount(), 0u);
}

// The page's event types without the sign-in statuses and terminal snapshots that follow
// configurations, nor Git's answers, which come whenever its runs end.
std::vector<std::string> typesWithoutFollowers(const test::RecordingWebView& page) {
    auto types = page.types();
    std::erase_if(types, [](const std::string& type) {
        return type == "github/oauth/status" || type == "terminal/snapshot" || type.starts_with("git/");
    });
    return types;
}

std::size_t countOf(const test::RecordingWebView& page, const std::string& type) {
    auto types = page.types();
    return static_cast<std::size_t>(std::count(types.begin(), types.end(), type));
}

// What the page is told at start-up and when it activates projects, as docs/protocol.md says.
TEST(CompositionTest, StartUpAndActivationSendWhatThePageIsPromised) {
    auto a = project("Alpha");
    auto b = project("Beta");
    storeProjects({a, b}, a.id);
    AppServices services = AppServices::build();
    auto page = loadedPage(services);
    page->scripts.clear();
    auto view = ContentView::create(services.bridge, services.configStore,
                                    InputCommandCenter::create(std::weak_ptr<EventMonitoring>()),
                                    services.terminalService, nullptr);
    view->appear();
    constexpr auto bound = std::chrono::seconds(30);
    // The built-in configuration comes first, with its first sample shown, then the stored one.
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return activatedNames(*page).size() == 2; }, bound));
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return countOf(*page, "app/config") >= 3; }, bound));
    auto types = typesWithoutFollowers(*page);
    ASSERT_GE(types.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(types.begin(), types.begin() + 7),
              (std::vector<std::string>{"app/config", "project/activate", "previewTab:hydrate", "app/config",
                                        "project/activate", "previewTab:hydrate", "app/config"}));
    const auto configs = page->eventsOfType("app/config");
    ASSERT_EQ(configs[0]["projects"].size(), 3u);
    EXPECT_EQ(configs[0]["projects"][0]["name"], activatedNames(*page)[0]);
    EXPECT_EQ(configs[0]["activeProjectId"], configs[0]["projects"][0]["id"]);
    EXPECT_EQ(configs[1]["projects"].size(), 2u);
    EXPECT_EQ(activatedNames(*page)[1], "Alpha");

    // Waits for a change's configurations and the terminal snapshot that answers each.
    auto settle = [&](std::size_t configsBefore, std::size_t snapshotsBefore) {
        return MainQueue::shared().drainUntil(
            [&] {
                return countOf(*page, "app/config") == configsBefore + 3 &&
                       countOf(*page, "terminal/snapshot") >= snapshotsBefore + 3;
            },
            bound);
    };
    auto message = [](const std::string& type, Json payload) {
        return Json{{"type", type}, {"payload", std::move(payload)}};
    };
    // Start-up ends with the stored configuration's snapshot and the terminal service's own.
    ASSERT_TRUE(
        MainQueue::shared().drainUntil([&] { return countOf(*page, "terminal/snapshot") >= 2; }, bound));

    // The project already shown: three configurations, one hydrate, no activation.
    page->scripts.clear();
    services.bridge->handle(message("project/activate", {{"id", a.id.string()}}));
    ASSERT_TRUE(settle(0, 0)) << page->types().size();
    EXPECT_EQ(countOf(*page, "project/activate"), 0u);
    EXPECT_EQ(countOf(*page, "previewTab:hydrate"), 1u);

    // Another project: shown once, its tabs sent twice.
    page->scripts.clear();
    services.bridge->handle(message("project/activate", {{"id", b.id.string()}}));
    ASSERT_TRUE(settle(0, 0));
    EXPECT_EQ(activatedNames(*page), std::vector<std::string>{"Beta"});
    EXPECT_EQ(countOf(*page, "previewTab:hydrate"), 2u);

    // An id of no project: nothing is sent, yet the bridge takes it and the explorer watch stops.
    page->scripts.clear();
    const Uuid unknown = Uuid::random();
    services.bridge->handle(message("project/activate", {{"id", unknown.string()}}));
    // A reorder with an entry that is not a string is dropped whole; one that names nothing new still
    // saves and sends the configuration, which marks the end of what came before.
    services.bridge->handle(message("project/reorder", {{"order", Json::array({b.id.string(), 5})}}));
    services.bridge->handle(message("project/reorder", {{"order", Json::array({b.id.string()})}}));
    ASSERT_TRUE(settle(0, 0));
    EXPECT_EQ(services.bridge->activeProjectID(), unknown);
    EXPECT_FALSE(services.bridge->monitoredExplorerProjectID());
    EXPECT_EQ(typesWithoutFollowers(*page),
              (std::vector<std::string>{"app/config", "app/config", "app/config"}));

    // A snapshot saved with another version comes back with version 1.
    Json tab{{"id", "t"},        {"path", "a.md"},       {"title", "a"},
             {"isDirty", false}, {"viewMode", "source"}, {"lastOpenedAt", 7}};
    services.bridge->handle(message(
        "previewTabs/persist",
        {{"projectId", a.id.string()}, {"snapshot", {{"tabs", Json::array({tab})}, {"version", 4}}}}));
    page->scripts.clear();
    services.bridge->dispatchPreviewTabs(a.id);
    ASSERT_EQ(page->eventsOfType("previewTab:hydrate").size(), 1u);
    EXPECT_EQ(page->eventsOfType("previewTab:hydrate")[0]["snapshot"]["version"], 1);
    EXPECT_EQ(page->eventsOfType("previewTab:hydrate")[0]["snapshot"]["tabs"][0]["lastOpenedAt"], 7);
}

TEST(CompositionTest, WithoutAnActiveProjectTheFirstIsShownButNotStored) {
    auto a = project("First");
    auto b = project("Second");
    storeProjects({a, b}, std::nullopt);
    AppServices services = AppServices::build();
    auto page = loadedPage(services);
    auto view = ContentView::create(services.bridge, services.configStore,
                                    InputCommandCenter::create(std::weak_ptr<EventMonitoring>()),
                                    services.terminalService, nullptr);
    view->appear();
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] {
        auto names = activatedNames(*page);
        return view->activeProjectID() == a.id && !names.empty() && names.back() == "First";
    }));
    EXPECT_FALSE(services.configStore->config().activeProjectID.has_value());
}

}  // namespace
}  // namespace pelko
