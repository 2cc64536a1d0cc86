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
