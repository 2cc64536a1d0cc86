// Terminal requests from the page, through the bridge, into a real terminal service with real
// pseudo-terminals and zsh.
#include <gtest/gtest.h>

#include <filesystem>

#include "bridge/BridgeTestSupport.hpp"
#include "config/ConfigStore.hpp"
#include "platform/Base64.hpp"
#include "platform/TextInputSourceNullBackend.hpp"
#include "support/TestSupport.hpp"
#include "terminal/PTYDriver.hpp"
#include "terminal/TerminalCoordinator.hpp"
#include "terminal/TerminalDebugDumpStore.hpp"
#include "terminal/TerminalInputModeSwitcher.hpp"
#include "terminal/TerminalLogger.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko::test {
namespace {

class WebBridgeTerminal : public ::testing::Test {
  protected:
    void SetUp() override {
        store = std::make_shared<ConfigStore>(dir / "data");
        std::filesystem::create_directories(dir / "home");
        store->update(false, [](AppConfig& config) {
            config.projects.clear();
            config.activeProjectID.reset();
            config.cliSessions.clear();
            config.enabledFeatures.clear();
        });
        coordinator = std::make_shared<TerminalCoordinator>(
            std::make_shared<PTYDriver>(),
            std::make_shared<TerminalLogger>(dir / "cache" / "pelko-terminal.log"),
            std::make_shared<TerminalDebugDumpStore>(dir / "cache" / "terminal-dumps"));
        service = TerminalService::create(
            store, coordinator, nullptr,
            std::make_shared<TerminalInputModeSwitcher>(std::make_shared<TextInputSourceNullBackend>()));
        loaded.bridge->configure({.terminalService = service, .configStore = store});
        MainQueue::shared().drain();
    }

    void TearDown() override {
        coordinator->terminateAll();
        service.reset();
        coordinator.reset();
        MainQueue::shared().drain();
    }

    void enableTerminal() {
        store->update(false,
                      [](AppConfig& config) { config.enabledFeatures = {AppConfig::Feature::terminalV2}; });
        MainQueue::shared().drain();
        loaded.webView->scripts.clear();
    }

    void send(const Json& body) { loaded.bridge->handle(body); }

    TempDir dir;
    LoadedBridge loaded;
    std::shared_ptr<ConfigStore> store;
    std::shared_ptr<TerminalCoordinator> coordinator;
    std::shared_ptr<TerminalService> service;
    std::string session = Uuid::random().string();
};

TEST_F(WebBridgeTerminal, InputWithTheFeatureOffGivesTheNoticeUnlessItsBase64IsInvalid) {
    loaded.webView->scripts.clear();
    send(
        message("terminal/input", {{"sessionId", session}, {"data", "not base64!"}, {"encoding", "base64"}}));
    send(message("terminal/input", {{"sessionId", session}, {"data", "aGk=\n"}, {"encoding", "base64"}}));
    EXPECT_TRUE(loaded.webView->scripts.empty());

    send(message("cli/input", {{"sessionId", session}, {"data", "not base64!"}}));
    auto statuses = loaded.webView->eventsOfType("terminal/status");
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0]["status"], "unavailable");
    EXPECT_EQ(statuses[0]["sessionId"], session);

    std::string other = Uuid::random().string();
    send(message("terminal/input", {{"sessionId", other}, {"data", "x"}, {"encoding", "BASE64"}}));
    EXPECT_EQ(loaded.webView->eventsOfType("terminal/status").size(), 2u);
}

TEST_F(WebBridgeTerminal, MessagesWithoutAValidSessionAreDroppedButCreateNeedsNone) {
    loaded.webView->scripts.clear();
    for (const char* type :
         {"terminal/input", "terminal/close", "terminal/resize", "terminal/signal", "terminal/focus"}) {
        send(message(type, {{"sessionId", "nope"},
                            {"data", "x"},
                            {"cols", 80},
                            {"rows", 24},
                            {"signal", "SIGINT"},
                            {"focused", true}}));
        send(message(type));
    }
    MainQueue::shared().drain();
    EXPECT_TRUE(loaded.webView->scripts.empty());
    EXPECT_FALSE(service->activeInputSessionID());

    send(message("cli/create"));
    send(message("terminal/create", {{"title", "Named"}, {"projectId", "not-a-uuid"}}));
    auto sessions = store->config().cliSessions;
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].title, "CLI #1");
    EXPECT_FALSE(sessions[0].projectId);
    EXPECT_EQ(sessions[1].title, "Named");
    EXPECT_FALSE(sessions[1].projectId);

    // Both close forms reach the service.
    send(message("cli/close", {{"sessionId", sessions[0].id.string()}}));
    send(message("terminal/close", {{"sessionId", sessions[1].id.string()}}));
    EXPECT_TRUE(store->config().cliSessions.empty());
}

TEST_F(WebBridgeTerminal, FocusHasNoCliFormAndNeedsABoolean) {
    send(message("cli/focus", {{"sessionId", session}, {"focused", true}}));
    send(message("terminal/focus", {{"sessionId", session}, {"focused", "yes"}}));
    EXPECT_FALSE(service->activeInputSessionID());
    send(message("terminal/focus", {{"sessionId", session}, {"focused", true}}));
    EXPECT_EQ(service->activeInputSessionID(), Uuid::parse(session));
    send(message("terminal/focus", {{"sessionId", session}, {"focused", false}}));
    EXPECT_FALSE(service->activeInputSessionID());
}

TEST_F(WebBridgeTerminal, ResizeCutsFractionsAndRefusesSizesBelowOneOrOutOfRange) {
    store->update(false, [&](AppConfig& config) {
        config.cliSessions.push_back({*Uuid::parse(session), "Shell", dir.path().string(), "/bin/zsh", {}});
    });
    enableTerminal();
    for (const Json& cols :
         {Json(0), Json(-3), Json("80"), Json(1e300), Json(-1e300), Json(0.9), Json(nullptr)}) {
        send(message("terminal/resize", {{"sessionId", session}, {"cols", cols}, {"rows", 24}}));
        send(message("cli/resize", {{"sessionId", session}, {"cols", 24}, {"rows", cols}}));
    }
    send(message("terminal/resize", {{"sessionId", session}, {"rows", 24}}));
    EXPECT_TRUE(loaded.webView->eventsOfType("terminal/resize").empty());

    send(message("cli/resize", {{"sessionId", session}, {"cols", 80.5}, {"rows", 24}}));
    auto resized = loaded.webView->eventsOfType("terminal/resize");
    ASSERT_EQ(resized.size(), 1u);
    EXPECT_EQ(resized[0].dump(), R"({"sessionId":")" + session + R"(","cols":80,"rows":24})");
}

TEST_F(WebBridgeTerminal, APageCreatedSessionRunsTheShellAndEchoesTypedInput) {
    enableTerminal();
    send(message("terminal/create", {{"title", "Shell"}}));
    ASSERT_TRUE(MainQueue::shared().drainUntil(
        [&] { return !loaded.webView->eventsOfType("terminal/created").empty(); }, std::chrono::seconds(20)));
    std::string id = loaded.webView->eventsOfType("terminal/created")[0]["sessionId"];
    std::string command = "echo pelko-$((40+2))\n";
    send(
        message("cli/input", {{"sessionId", id}, {"data", base64::encode(command)}, {"encoding", "base64"}}));
    auto sawAnswer = [&] {
        std::string output;
        for (const auto& event : loaded.webView->eventsOfType("terminal/output")) {
            auto bytes = base64::decode(event["chunk"].get<std::string>());
            if (bytes) output.append(bytes->begin(), bytes->end());
        }
        return output.find("pelko-42") != std::string::npos;
    };
    EXPECT_TRUE(MainQueue::shared().drainUntil(sawAnswer, std::chrono::seconds(20)));
    send(message("terminal/signal", {{"sessionId", id}, {"signal", "sigint"}}));
    send(message("terminal/close", {{"sessionId", id}}));
    EXPECT_TRUE(store->config().cliSessions.empty());
}

}  // namespace
}  // namespace pelko::test
