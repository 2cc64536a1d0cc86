#include "terminal/TerminalSessionFixture.hpp"

namespace pelko {
namespace {

using TerminalServiceTest = test::TerminalSessionFixture;
namespace fs = std::filesystem;

void switchFeature(ConfigStore& store, bool on) {
    store.update(false, [on](AppConfig& config) {
        if (on) {
            config.enabledFeatures.insert(AppConfig::Feature::terminalV2);
        } else {
            config.enabledFeatures.erase(AppConfig::Feature::terminalV2);
        }
    });
}

TEST_F(TerminalServiceTest, SnapshotBeforeTheFirstReconciliationListsPendingSessions) {
    auto session = addSession("/nonexistent/shell");
    // The store's change reaches the service on a later turn of the main queue.
    service->sendSnapshot();
    auto snapshot = bridge->lastSnapshot();
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(snapshot->sessions.size(), 1u);
    EXPECT_EQ(json::encode(snapshot->sessions[0].toJson()),
              json::encode(Json{{"id", session.id.string()},
                                {"title", "Test"},
                                {"workingDirectory", home.string()},
                                {"status", "pending"}}));
    service->bootstrapIfNeeded();
    service->bootstrapIfNeeded();
    EXPECT_EQ(bridge->events("snapshot").size(), 2u);
}

TEST_F(TerminalServiceTest, WithTheFeatureOffSessionsAreUnavailableAndNoticedOnce) {
    switchFeature(*store, false);
    auto session = addSession();
    MainQueue::shared().drain();
    EXPECT_EQ(bridge->lastSnapshot()->sessions[0].status, "unavailable");
    EXPECT_TRUE(bridge->events("created").empty());

    bridge->clear();
    type(session.id, "ls\n");
    type(session.id, "pwd\n");
    EXPECT_EQ(bridge->output(session.id.string()), "[pelko] Terminal2 準備中: " + session.id.string());
    auto statuses = bridge->events("status");
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0].text, "unavailable");
    EXPECT_TRUE(bridge->events("activity").empty());

    // Native keys on the focused session are swallowed and give no second notice.
    service->setInputFocus(session.id, true);
    EXPECT_TRUE(service->handleNativeKeyDown(NativeKeyEvent::fromGdk('a', 38, 0)));
    EXPECT_EQ(bridge->events("output").size(), 1u);

    // Resizing and signals do nothing; closing says "closed".
    service->resizeSession(session.id, 80, 24);
    EXPECT_TRUE(bridge->events("resize").empty());
    service->closeSession(session.id);
    EXPECT_TRUE(bridge->hasStatus(session.id.string(), "closed"));
    EXPECT_FALSE(service->activeInputSessionID());
}

TEST_F(TerminalServiceTest, ResizeEchoesClampedSizesOnlyWhenTheyChange) {
    auto session = addSession();
    ASSERT_GT(waitForCreated(session.id), 0);
    service->resizeSession(session.id, 1, 1);
    service->resizeSession(session.id, 1, 1);
    service->resizeSession(session.id, 100000, 50);
    auto resizes = bridge->events("resize");
    ASSERT_EQ(resizes.size(), 2u);
    EXPECT_EQ(std::make_pair(resizes[0].cols, resizes[0].rows), std::make_pair(2, 2));
    EXPECT_EQ(std::make_pair(resizes[1].cols, resizes[1].rows), std::make_pair(65535, 50));
    EXPECT_EQ(coordinator->dimensions(session.id), std::make_pair(65535, 50));
    // An id no configured session has makes no record and gets no echo, however often it is sent.
    auto unknown = Uuid::random();
    service->resizeSession(unknown, 30, 10);
    service->resizeSession(unknown, 30, 10);
    EXPECT_EQ(bridge->events("resize").size(), 2u);
}

TEST_F(TerminalServiceTest, CreatedSessionFollowsTheDocumentedEventOrder) {
    service->createSession(std::string("Mine"), std::nullopt);
    ASSERT_TRUE(test::waitFor([&] {
        auto statuses = bridge->events("status");
        return !statuses.empty() && statuses.back().text == "ready";
    }));
    // Output and activity come from the shell's reader thread whenever it prints; the order of the
    // main thread's events is what is documented.
    std::vector<std::string> kinds;
    for (auto& event : bridge->events()) {
        if (event.type != "output" && event.type != "activity")
            kinds.push_back(event.type + ":" + event.text);
    }
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.front(), "snapshot:");
    EXPECT_EQ(kinds.back(), "snapshot:");
    std::erase(kinds, std::string("snapshot:"));
    EXPECT_EQ(kinds, (std::vector<std::string>{"created:", "status:booting", "status:ready"}));
    auto first = bridge->events("snapshot").front().snapshot->sessions;
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].status, "booting");
    EXPECT_EQ(first[0].cols, 120);
    EXPECT_FALSE(first[0].pid);
    // The store's own change later starts nothing twice.
    MainQueue::shared().drain();
    EXPECT_EQ(bridge->events("created").size(), 1u);
}

TEST_F(TerminalServiceTest, AChangeQueuedBeforeACreateNeitherEndsNorRestartsTheNewSession) {
    // Published now, delivered on a later turn of the main queue, after the create below.
    store->update(false, [](AppConfig&) {});
    service->createSession(std::string("Mine"), std::nullopt);
    auto id = store->config().cliSessions.back().id;
    type(id, "echo typed-$((2*4))\n");
    EXPECT_TRUE(waitForOutput(id, "typed-8"));
    MainQueue::shared().drain();
    EXPECT_EQ(bridge->events("created").size(), 1u);
    EXPECT_TRUE(coordinator->hasLiveSession(id));
}

TEST_F(TerminalServiceTest, SwitchingTheFeatureOffEndsEverySession) {
    auto session = addSession();
    pid_t shell = waitForCreated(session.id);
    ASSERT_GT(shell, 0);
    switchFeature(*store, false);
    ASSERT_TRUE(test::waitFor([&] {
        auto snapshot = bridge->lastSnapshot();
        return snapshot && snapshot->sessions[0].status == "unavailable";
    }));
    EXPECT_FALSE(coordinator->hasLiveSession(session.id));
    EXPECT_TRUE(test::waitFor([&] { return kill(shell, 0) != 0; }));
}

TEST_F(TerminalServiceTest, TerminatingAProjectsSessionsSendsOneSnapshot) {
    auto first = addSession();
    auto second = addSession();
    ASSERT_GT(waitForCreated(first.id), 0);
    ASSERT_GT(waitForCreated(second.id), 0);
    bridge->clear();
    service->terminateSessions({});
    // The shells keep printing from their reader threads; what must not come is a snapshot.
    EXPECT_TRUE(bridge->events("snapshot").empty());
    service->terminateSessions({first.id, second.id});
    EXPECT_EQ(bridge->events("snapshot").size(), 1u);
    EXPECT_FALSE(coordinator->hasLiveSession(first.id));
    EXPECT_FALSE(coordinator->hasLiveSession(second.id));
}

TEST_F(TerminalServiceTest, DebugDumpsFollowTheirFeatureFlag) {
    store->update(false, [](AppConfig& config) {
        config.enabledFeatures.insert(AppConfig::Feature::terminalDebugDump);
    });
    auto session = addSession();
    ASSERT_GT(waitForCreated(session.id), 0);
    EXPECT_TRUE(coordinator->debugDumpEnabled());
    type(session.id, "echo dumped-$((3*3))\n");
    ASSERT_TRUE(waitForOutput(session.id, "dumped-9"));
    dumps->flush();
    fs::path file = dumps->directory() / (session.id.string() + ".jsonl");
    ASSERT_TRUE(fs::exists(file));
    EXPECT_NE(test::readFile(file).find("\"sequence\":0"), std::string::npos);

    store->update(false, [](AppConfig& config) {
        config.enabledFeatures.erase(AppConfig::Feature::terminalDebugDump);
    });
    ASSERT_TRUE(test::waitFor([&] { return !coordinator->debugDumpEnabled(); }));
    dumps->flush();
    auto size = fs::file_size(file);
    type(session.id, "echo quiet\n");
    ASSERT_TRUE(waitForOutput(session.id, "quiet\r\n"));
    dumps->flush();
    EXPECT_EQ(fs::file_size(file), size);
}

class BoundedTerminalServiceTest : public test::TerminalSessionFixture {
  protected:
    BoundedTerminalServiceTest() { sessionBound = 2; }
};

TEST_F(BoundedTerminalServiceTest, SessionsBeyondTheBoundAreRefused) {
    service->createSession(std::string("one"), std::nullopt);
    service->createSession(std::string("two"), std::nullopt);
    EXPECT_EQ(bridge->events("created").size(), 2u);
    bridge->clear();
    // A page's create: nothing is added, one error answers it.
    service->createSession(std::string("three"), std::nullopt);
    EXPECT_EQ(store->config().cliSessions.size(), 2u);
    auto errors = bridge->events("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "sessionLimitReached(limit: 2)");
    EXPECT_TRUE(bridge->events("created").empty());
    EXPECT_TRUE(bridge->events("snapshot").empty());

    // A configuration that already lists more (written before the bound) starts no more shells.
    auto extra = addSession();
    ASSERT_TRUE(test::waitFor([&] { return bridge->hasStatus(extra.id.string(), "failed"); }));
    EXPECT_FALSE(coordinator->hasLiveSession(extra.id));
    EXPECT_TRUE(bridge->events("created").empty());
}

}  // namespace
}  // namespace pelko
