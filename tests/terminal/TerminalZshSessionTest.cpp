#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "terminal/TerminalSessionFixture.hpp"

namespace pelko {
namespace {

namespace fs = std::filesystem;

using ZshSessionTest = test::TerminalSessionFixture;

std::optional<pid_t> childOf(pid_t parent) {
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                           "/children");
    pid_t child = 0;
    if (children >> child) return child;
    return std::nullopt;
}

// Waits until the shell's child has become `sleep` and leads the terminal's foreground group, so that
// an interrupt reaches it rather than the shell (which ignores it); 0 if that never happens.
pid_t waitForForegroundSleep(pid_t shell) {
    pid_t sleeper = 0;
    test::waitFor([&] {
        auto child = childOf(shell);
        if (!child) return false;
        std::ifstream stat("/proc/" + std::to_string(*child) + "/stat");
        std::string pid, name, state;
        long parent = 0, group = 0, session = 0, tty = 0, foreground = 0;
        if (!(stat >> pid >> name >> state >> parent >> group >> session >> tty >> foreground)) return false;
        if (name != "(sleep)" || group <= 0 || group != foreground) return false;
        sleeper = *child;
        return true;
    });
    return sleeper;
}

TEST_F(ZshSessionTest, LoginShellStartsInItsFolderWithTheTerminalEnvironment) {
    test::TempDir folder;
    auto session = addSession("/bin/zsh", folder.path().string());
    ASSERT_GT(waitForCreated(session.id), 0);
    auto created = bridge->events("created").front().created;
    EXPECT_EQ(created->workingDirectory, folder.path().string());
    EXPECT_EQ(created->cols, 120);
    EXPECT_EQ(created->rows, 40);

    type(session.id,
         "print -r -- \"E=$PELKO_TERMINAL|$TERM|$COLORTERM|$ZDOTDIR|$PELKO_ZDOTDIR_RESTORED|"
         "${PATH%%:*}|$(pwd -P)|${options[login]}|\"\n");
    const auto& env = Environment::process();
    std::string expected = "E=1|" + env.get("TERM").value_or("xterm-256color") + "|" +
                           env.get("COLORTERM").value_or("truecolor") + "|" + home.string() + "|1|" +
                           installer->shimDirectory().string() + "|" + fs::canonical(folder.path()).string() +
                           "|on|";
    EXPECT_TRUE(waitForOutput(session.id, expected)) << bridge->output(session.id.string());
    // On the reader thread, every output chunk is followed by an activity event (the main thread's
    // events may fall in between, and the newest chunk's activity may still be on its way).
    auto events = bridge->events();
    std::erase_if(events, [](auto& e) { return e.type != "output" && e.type != "activity"; });
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        if (events[i].type == "output") {
            EXPECT_EQ(events[i + 1].type, "activity");
        }
    }
}

TEST_F(ZshSessionTest, TypedInputEchoesAndResizeReachesTheShell) {
    auto session = addSession();
    ASSERT_GT(waitForCreated(session.id), 0);
    type(session.id, "echo hi-$((6*7))\n");
    EXPECT_TRUE(waitForOutput(session.id, "hi-42"));
    EXPECT_TRUE(waitForOutput(session.id, "echo hi-$((6*7))"));

    service->resizeSession(session.id, 100, 33);
    type(session.id, "stty size\n");
    EXPECT_TRUE(waitForOutput(session.id, "33 100"));
    auto resizes = bridge->events("resize");
    ASSERT_EQ(resizes.size(), 1u);
    EXPECT_EQ(resizes[0].cols, 100);
    EXPECT_EQ(resizes[0].rows, 33);
}

TEST_F(ZshSessionTest, InterruptStopsTheRunningCommand) {
    auto session = addSession();
    pid_t shell = waitForCreated(session.id);
    ASSERT_GT(shell, 0);
    type(session.id, "sleep 30\n");
    pid_t sleeper = waitForForegroundSleep(shell);
    ASSERT_GT(sleeper, 0);
    service->sendSignal(session.id, "sigint");
    ASSERT_TRUE(test::waitFor([&] { return kill(sleeper, 0) != 0 || !childOf(shell); }));
    type(session.id, "echo back-$((2+3))\n");
    EXPECT_TRUE(waitForOutput(session.id, "back-5"));
}

TEST_F(ZshSessionTest, OtherSignalNamesDoNothing) {
    auto session = addSession();
    pid_t shell = waitForCreated(session.id);
    type(session.id, "sleep 30\n");
    pid_t sleeper = waitForForegroundSleep(shell);
    ASSERT_GT(sleeper, 0);
    service->sendSignal(session.id, "SIGKILL");
    service->sendSignal(session.id, "INT");
    MainQueue::shared().drain();
    EXPECT_EQ(childOf(shell), sleeper);
    type(session.id, "\x03");  // the terminal's own interrupt key
    type(session.id, "echo still-$((1+1))\n");
    EXPECT_TRUE(waitForOutput(session.id, "still-2"));
    EXPECT_EQ(bridge->events("exit").size(), 0u);
}

TEST_F(ZshSessionTest, CodexRunIsWrappedInMarkers) {
    auto session = addSession();
    ASSERT_GT(waitForCreated(session.id), 0);
    type(session.id, "codex --version\n");
    const std::string end = "\x1b]633;pelko-codex:end;status=0\x07";
    ASSERT_TRUE(waitForOutput(session.id, end)) << bridge->output(session.id.string());
    std::string output = bridge->output(session.id.string());
    auto start = output.find("\x1b]633;pelko-codex:start\x07");
    auto ran = output.find("fake-codex-ran --version");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(ran, std::string::npos);
    EXPECT_LT(start, ran);
    EXPECT_LT(ran, output.find(end));
}

TEST_F(ZshSessionTest, ExitCodesAreReported) {
    auto three = addSession();
    auto killed = addSession();
    ASSERT_GT(waitForCreated(three.id), 0);
    ASSERT_GT(waitForCreated(killed.id), 0);
    type(three.id, "exit 3\n");
    type(killed.id, "kill -9 $$\n");
    ASSERT_TRUE(test::waitFor([&] { return bridge->events("exit").size() == 2; }));
    for (auto& event : bridge->events("exit")) {
        EXPECT_EQ(*event.code, event.sessionId == three.id.string() ? 3 : -9);
    }
    for (auto& event : bridge->events("status")) {
        if (event.text == "terminated") {
            EXPECT_EQ(*event.code, event.sessionId == three.id.string() ? 3 : -9);
        } else {
            EXPECT_FALSE(event.code);
        }
    }
    auto snapshot = bridge->lastSnapshot();
    ASSERT_TRUE(snapshot);
    for (auto& entry : snapshot->sessions) EXPECT_EQ(entry.status, "terminated");

    // Any configuration change starts the exited sessions again.
    bridge->clear();
    store->update(false, [](AppConfig&) {});
    EXPECT_GT(waitForCreated(three.id), 0);
    EXPECT_GT(waitForCreated(killed.id), 0);
}

TEST_F(ZshSessionTest, FastExitDeliversAllOfItsOutputBeforeTheExit) {
    fs::path script = root / "fast.sh";
    writeExecutable(script, "#!/bin/sh\nhead -c 20480 /dev/zero | tr '\\0' x\n");
    auto session = addSession(script.string());
    ASSERT_TRUE(test::waitFor([&] { return !bridge->events("exit").empty(); }));
    std::string output = bridge->output(session.id.string());
    EXPECT_EQ(std::count(output.begin(), output.end(), 'x'), 20480);
    // Nothing arrives after the exit.
    auto events = bridge->events();
    auto exitAt = std::find_if(events.begin(), events.end(), [](auto& e) { return e.type == "exit"; });
    EXPECT_TRUE(std::none_of(exitAt, events.end(), [](auto& e) { return e.type == "output"; }));
}

TEST_F(ZshSessionTest, AnExitedShellTakesNoMoreInputResizesOrSignals) {
    auto session = addSession();
    pid_t shell = waitForCreated(session.id);
    ASSERT_GT(shell, 0);
    type(session.id, "exit\n");
    // The exit watch reaps the shell on its own thread; the main queue is not turned meanwhile, so the
    // session's end has not been handled yet and its pid is free for another process to take.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(kill(shell, 0) != 0 && errno == ESRCH) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(kill(shell, 0), -1);
    service->resizeSession(session.id, 90, 30);
    type(session.id, "echo too-late\n");
    service->sendSignal(session.id, "SIGINT");
    ASSERT_TRUE(test::waitFor([&] { return !bridge->events("exit").empty(); }));
    EXPECT_FALSE(bridge->hasStatus(session.id.string(), "failed"));
    EXPECT_TRUE(bridge->events("error").empty());
    logger->flush();
    std::string log = test::readFile(logger->fileURL());
    auto count = [&log](const std::string& text) {
        std::size_t found = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
        return found;
    };
    EXPECT_EQ(count("\"event\":\"input\""), 1u);
    EXPECT_EQ(count("\"event\":\"resize\""), 0u);
    EXPECT_EQ(count("\"event\":\"signal\""), 0u);
}

TEST_F(ZshSessionTest, OutputHeldByTheNormalizerIsDeliveredBeforeTheExit) {
    auto session = addSession();
    ASSERT_GT(waitForCreated(session.id), 0);
    // An escape sequence that nothing ends: only the session's end can release it.
    type(session.id, "printf 'xxxxxxxxxx\\033]0;title-without-terminator'; exit\n");
    ASSERT_TRUE(test::waitFor([&] { return !bridge->events("exit").empty(); }));
    std::string output;
    for (auto& event : bridge->events()) {
        if (event.type == "exit") break;
        if (event.type == "output") output += event.text;
    }
    EXPECT_NE(output.find("xxxxxxxxxx\x1b]0;title-without-terminator"), std::string::npos) << output;
}

TEST_F(ZshSessionTest, EndedSessionsAreReapedNotLeftAsZombies) {
    auto session = addSession();
    pid_t shell = waitForCreated(session.id);
    ASSERT_GT(shell, 0);
    service->closeSession(session.id);
    EXPECT_TRUE(test::waitFor([&] { return kill(shell, 0) != 0 && errno == ESRCH; }));
    // Closing a live session with the feature on reports no "closed" status.
    EXPECT_FALSE(bridge->hasStatus(session.id.string(), "closed"));
    // Input after the end is ignored.
    type(session.id, "echo gone\n");
    MainQueue::shared().drain();
}

TEST_F(ZshSessionTest, FailedStartDuringReconciliationShowsFailed) {
    auto session = addSession("/nonexistent/zsh");
    ASSERT_TRUE(test::waitFor([&] { return bridge->hasStatus(session.id.string(), "failed"); }));
    MainQueue::shared().drain();
    auto errors = bridge->events("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "spawnFailed(code: 2)");
    auto snapshot = bridge->lastSnapshot();
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(snapshot->sessions.size(), 1u);
    EXPECT_EQ(snapshot->sessions[0].status, "failed");
}

TEST_F(ZshSessionTest, NativeKeysGoToTheFocusedSession) {
    auto session = addSession();
    ASSERT_GT(waitForCreated(session.id), 0);
    auto key = NativeKeyEvent::fromGdk('Q', 24, 1u << 0);
    EXPECT_FALSE(service->handleNativeKeyDown(key));  // nothing focused yet
    service->setInputFocus(session.id, true);
    service->setInputFocus(Uuid::random(), false);
    EXPECT_TRUE(service->handleNativeKeyDown(key));
    EXPECT_FALSE(service->handleNativeKeyDown(NativeKeyEvent::fromGdk(0xff0d, 36, 0)));  // Return
    EXPECT_FALSE(service->handleNativeKeyDown(NativeKeyEvent::fromGdk(0xff30, 0, 0)));   // Eisu, no source
    EXPECT_TRUE(waitForOutput(session.id, "Q"));
    // Removing the focused session from the configuration clears the focus.
    store->update(false, [](AppConfig& config) { config.cliSessions.clear(); });
    ASSERT_TRUE(test::waitFor([&] { return !service->activeInputSessionID(); }));
}

TEST_F(ZshSessionTest, InputThatFindsNoRoomFailsTheSessionButKeepsTheShell) {
    auto session = addSession();
    pid_t shell = waitForCreated(session.id);
    type(session.id, "stty raw -echo; sleep 30\n");
    ASSERT_GT(waitForForegroundSleep(shell), 0);
    // Nobody reads while sleep runs: the terminal's input fills up and the write gives up after a wait.
    type(session.id, std::string(1024 * 1024, 'a'));
    auto errors = bridge->events("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text.rfind("write_failed: ", 0), 0u) << errors[0].text;
    EXPECT_EQ(bridge->lastSnapshot()->sessions[0].status, "failed");
    EXPECT_TRUE(coordinator->hasLiveSession(session.id));
    EXPECT_EQ(kill(shell, 0), 0);
}

}  // namespace
}  // namespace pelko
