#include <gtest/gtest.h>

#include <thread>

#include "bridge/BridgeTestSupport.hpp"
#include "config/AppConfig.hpp"
#include "platform/XdgFolders.hpp"
#include "support/TestSupport.hpp"

namespace pelko {
namespace {

std::vector<std::uint8_t> chunk(const std::string& text) {
    return {text.begin(), text.end()};
}

// Terminal output counts as delivered only once the page has run its script: not when it is held
// during a load, not when it is handed to the web view. A page request meanwhile is answered at once,
// ahead of the output still running.
TEST(TerminalOutputDeliveryTest, OutputIsAcknowledgedWhenThePageHasRunItAndRequestsDoNotWaitBehindIt) {
    auto bridge = WebBridge::create();
    auto page = std::make_shared<test::RecordingWebView>();
    page->holdNotifications = true;
    bridge->attachWebView(page);
    bridge->updateConfigSnapshot(AppConfig::builtInDefault(XdgFolders::process().home.string()));
    std::vector<int> delivered;
    const std::string id = Uuid::random().string();
    std::thread reader([&] {
        bridge->deliverTerminalOutput(id, chunk("one"), [&] { delivered.push_back(1); });
        bridge->deliverTerminalOutput(id, chunk("two"), [&] { delivered.push_back(2); });
    });
    reader.join();
    MainQueue::shared().drain();
    EXPECT_TRUE(delivered.empty());  // held while the page loads
    EXPECT_TRUE(page->types().empty());

    bridge->notifyWebViewDidFinishNavigation();
    ASSERT_EQ(page->types(), (std::vector<std::string>{"app/config", "github/oauth/status", "terminal/output",
                                                       "terminal/output"}));
    EXPECT_TRUE(delivered.empty());  // handed to the page, not yet run
    bridge->handle(test::message("app/config/request"));
    EXPECT_EQ(page->types()[4], "app/config");
    page->runOne();
    EXPECT_EQ(delivered, (std::vector<int>{1}));
    page->runOne();
    EXPECT_EQ(delivered, (std::vector<int>{1, 2}));
}

// A bridge that goes away holding output, or before its delivery step ran, lets the session go on:
// the output counts as taken.
TEST(TerminalOutputDeliveryTest, OutputOfABridgeThatGoesAwayIsAcknowledged) {
    std::vector<std::string> delivered;
    {
        auto bridge = WebBridge::create();
        bridge->deliverTerminalOutput(Uuid::random().string(), chunk("held"),
                                      [&] { delivered.push_back("held"); });
        MainQueue::shared().drain();
        bridge->deliverTerminalOutput(Uuid::random().string(), chunk("queued"),
                                      [&] { delivered.push_back("queued"); });
        EXPECT_TRUE(delivered.empty());
    }
    EXPECT_EQ(delivered, (std::vector<std::string>{"held"}));
    MainQueue::shared().drain();
    EXPECT_EQ(delivered, (std::vector<std::string>{"held", "queued"}));
}

}  // namespace
}  // namespace pelko
