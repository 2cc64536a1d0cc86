#include <gtest/gtest.h>

#include <algorithm>

#include "app/AppServices.hpp"
#include "app/ContentView.hpp"
#include "app/FakeEventMonitoring.hpp"
#include "app/InputCommandCenter.hpp"
#include "bridge/WebBridge.hpp"
#include "config/AppConfig.hpp"
#include "config/ConfigStore.hpp"
#include "platform/MainQueue.hpp"
#include "platform/XdgFolders.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

// The page as the bridge sees it: records the type of every event script it evaluates.
struct RecordingPage final : ScriptEvaluating {
    void evaluateScript(const std::string& script) override {
        auto head = WebBridge::scriptHead();
        auto tail = WebBridge::scriptTail();
        ASSERT_EQ(script.compare(0, head.size(), head), 0);
        std::string escaped = script.substr(head.size(), script.size() - head.size() - tail.size());
        std::string text;
        for (size_t i = 0; i < escaped.size(); ++i) text += escaped[i] == '\\' ? escaped[++i] : escaped[i];
        // Unescaping the JS literal also turned the JSON's "\/" into "/" and "\\" into "\": fine here.
        auto event = json::parse(text);
        ASSERT_TRUE(event) << text;
        types.push_back((*event)["type"].get<std::string>());
        events.push_back(*event);
    }
    std::vector<std::string> types;
    std::vector<Json> events;
};

std::vector<std::string> activatedNames(const RecordingPage& page) {
    std::vector<std::string> names;
    for (const auto& event : page.events) {
        if (event["type"] == "project/activate") names.push_back(event["payload"]["name"].get<std::string>());
    }
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

TEST(CompositionTest, WiringHoldsTheFirstEventsUntilThePageLoads) {
    std::filesystem::remove(XdgFolders::process().appData() / "config.json");
    AppServices services = AppServices::build();
    auto page = std::make_shared<RecordingPage>();
    services.bridge->attachWebView(page);
    EXPECT_TRUE(page->types.empty());
    services.bridge->notifyWebViewDidStartNavigation();
    services.bridge->notifyWebViewDidFinishNavigation();
    EXPECT_EQ(page->types, (std::vector<std::string>{"terminal/snapshot", "github/oauth/status"}));
    // The first snapshot describes the built-in default's one session.
    EXPECT_EQ(page->events[0]["payload"]["sessions"][0]["title"], "CLI #1");
}

TEST(CompositionTest, ContentViewActivatesTheStoredProjectAndSwitches) {
    auto a = project("Alpha");
    auto b = project("Beta");
    AppConfig stored = AppConfig::builtInDefault(XdgFolders::process().home.string());
    stored.projects = {a, b};
    stored.activeProjectID = b.id;
    stored.cliSessions.clear();
    test::writeFile(XdgFolders::process().appData() / "config.json", stored.toJson().dump());

    AppServices services = AppServices::build();
    auto page = std::make_shared<RecordingPage>();
    services.bridge->attachWebView(page);
    services.bridge->notifyWebViewDidFinishNavigation();
    page->types.clear();
    page->events.clear();

    auto events = std::make_shared<test::FakeEventMonitoring>();
    auto center = InputCommandCenter::create(events);
    auto view =
        ContentView::create(services.bridge, services.configStore, center, services.terminalService, nullptr);
    view->appear();
    // Before the file is read, the built-in default's first sample project is shown.
    ASSERT_FALSE(activatedNames(*page).empty());
    const std::string sample = activatedNames(*page).front();
    EXPECT_NE(sample, "Beta");

    ASSERT_TRUE(MainQueue::shared().drainUntil(
        [&] { return view->activeProjectID() == b.id && page->types.back() == "terminal/snapshot"; }));
    EXPECT_EQ(activatedNames(*page), (std::vector<std::string>{sample, "Beta"}));
    EXPECT_EQ(page->types.front(), "app/config");
    for (size_t i = 0; i < page->types.size(); ++i) {
        if (page->types[i] == "app/config") {
            ASSERT_LT(i + 1, page->types.size());
            EXPECT_EQ(page->types[i + 1], "github/oauth/status");
        }
    }
    EXPECT_EQ(events->monitorCount(), 2u);

    // "Next Project" from the last project wraps to the first, activating it exactly once.
    page->events.clear();
    center->onNextProject();
    EXPECT_EQ(activatedNames(*page), std::vector<std::string>{"Alpha"});
    EXPECT_EQ(services.configStore->config().activeProjectID, a.id);
    center->onPreviousProject();
    EXPECT_EQ(activatedNames(*page), (std::vector<std::string>{"Alpha", "Beta"}));

    view->disappear();
    EXPECT_EQ(events->monitorCount(), 0u);
}

TEST(CompositionTest, WithoutAnActiveProjectTheFirstIsShownButNotStored) {
    auto a = project("First");
    auto b = project("Second");
    AppConfig stored = AppConfig::builtInDefault(XdgFolders::process().home.string());
    stored.projects = {a, b};
    stored.activeProjectID.reset();
    stored.cliSessions.clear();
    test::writeFile(XdgFolders::process().appData() / "config.json", stored.toJson().dump());

    AppServices services = AppServices::build();
    auto page = std::make_shared<RecordingPage>();
    services.bridge->attachWebView(page);
    services.bridge->notifyWebViewDidFinishNavigation();
    auto view = ContentView::create(services.bridge, services.configStore,
                                    InputCommandCenter::create(std::weak_ptr<EventMonitoring>()),
                                    services.terminalService, nullptr);
    view->appear();
    ASSERT_TRUE(MainQueue::shared().drainUntil([&] { return view->activeProjectID() == a.id; }));
    MainQueue::shared().drain();
    EXPECT_EQ(activatedNames(*page).back(), "First");
    EXPECT_FALSE(services.configStore->config().activeProjectID.has_value());
}

}  // namespace
}  // namespace pelko
