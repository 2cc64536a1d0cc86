// The sign-in status against a Secret Service that takes every call and never answers. The checks run
// in a child of this test program on a private bus of the test's own (no keyring, and nothing it could
// start), where the child owns the Secret Service's name itself and drops every call it receives.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "bridge/BridgeTestSupport.hpp"
#include "config/AppConfig.hpp"
#include "github/GitAuthManager.hpp"
#include "github/GitHubTestSupport.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/Environment.hpp"
#include "platform/ProcessEnd.hpp"
#include "support/SilentSecretService.hpp"
#include "support/TestInChild.hpp"

namespace pelko::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* childVariable = "PELKO_SILENT_KEYRING_CHILD";
// D-Bus's own limit for a call without one of its own.
constexpr auto dbusDefaultTimeout = 25s;

std::size_t count(const RecordingWebView& page, const std::string& type) {
    auto types = page.types();
    return static_cast<std::size_t>(std::count(types.begin(), types.end(), type));
}

void runAgainstTheSilentService() {
    SilentSecretService silent;
    ASSERT_TRUE(silent.owned) << "could not own the Secret Service's name on the private bus";

    // The store gives up on each call after its own bound, long before D-Bus would.
    {
        SystemKeychainStore store(300ms);
        auto start = Clock::now();
        EXPECT_FALSE(store.load("app.pelko.test.silent", "default"));
        EXPECT_FALSE(store.save("data", "app.pelko.test.silent", "default"));
        EXPECT_FALSE(store.remove("app.pelko.test.silent", "default"));
        EXPECT_LT(Clock::now() - start, dbusDefaultTimeout) << "a call waited for D-Bus's own timeout";
        EXPECT_GT(silent.callsHeld(), 0) << "the calls never reached the silent service";
    }

    // A store bound far beyond the test, so the keyring call is certainly still open below.
    auto keychain = std::make_shared<SystemKeychainStore>(std::chrono::minutes(10));
    LoadedBridge loaded;
    loaded.bridge->configure({.authManager = std::make_shared<GitAuthManager>(keychain)});
    loaded.bridge->updateConfigSnapshot(AppConfig::builtInDefault("/tmp"));
    ASSERT_TRUE(
        MainQueue::shared().drainUntil([&] { return count(*loaded.webView, "app/config") == 1; }, 60s));

    const int heldBefore = silent.callsHeld();
    auto asked = Clock::now();
    loaded.bridge->handle(message("app/config/request"));
    ASSERT_TRUE(
        MainQueue::shared().drainUntil([&] { return count(*loaded.webView, "app/config") == 2; }, 60s));
    auto answered = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
    ::testing::Test::RecordProperty("app_config_answer_ms", std::to_string(answered.count()));
    // Answered while the keyring call is still open: no status has come back yet, not even the
    // "disconnected" that D-Bus's own timeout would have produced.
    EXPECT_EQ(count(*loaded.webView, "github/oauth/status"), 0u);
    EXPECT_GE(silent.callsHeld(), heldBefore);
    EXPECT_LT(answered, dbusDefaultTimeout);

    // Once the service leaves the bus, each status follows, in order, as no token.
    silent.leave();
    ASSERT_TRUE(MainQueue::shared().drainUntil(
        [&] { return count(*loaded.webView, "github/oauth/status") == 3; }, 60s));
    for (const auto& event : loaded.webView->events()) {
        if (event["type"] == "github/oauth/status") {
            EXPECT_EQ(event["payload"]["status"], "disconnected");
        }
    }
}

// The end of the process while the keyring holds a call and sign-in requests wait behind it, the last
// a sign-out: the call is given up at once and the status requests never ask the keyring. The sign-out,
// asked for before the end, still is, within the errands' grace, and a silent keyring ends it then.
// The store's bound is far beyond the test's, so only the end can end the waits.
void endWhileTheKeyringHoldsCalls() {
    SilentSecretService silent;
    ASSERT_TRUE(silent.owned) << "could not own the Secret Service's name on the private bus";

    auto keychain = std::make_shared<HookedKeychain>(std::make_shared<SystemKeychainStore>(10min));
    LoadedBridge loaded;
    loaded.bridge->configure({.authManager = std::make_shared<GitAuthManager>(keychain)});
    for (int i = 0; i < 12; ++i) loaded.bridge->handle(message("github/oauth/requestStatus"));
    loaded.bridge->handle(message("github/oauth/logout"));
    ASSERT_TRUE(
        MainQueue::shared().drainUntil([&] { return keychain->loads > 0 && silent.callsHeld() > 0; }, 60s))
        << "the keyring was never asked";

    ProcessEnd::begin();
    const auto ended = Clock::now();
    // As at the application's end: the errands are waited for, then the bridge goes, its keyring queue
    // runs what it holds and is joined.
    ProcessEnd::awaitErrands();
    loaded.bridge.reset();
    const auto took = Clock::now() - ended;
    ::testing::Test::RecordProperty(
        "end_ms", std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_LT(took, 60s) << "the keyring's calls were waited for";
    // The status request in flight, then the sign-out's read, deletion and read: nothing else.
    EXPECT_EQ(keychain->removes, 1) << "the sign-out was dropped";
    EXPECT_EQ(keychain->loads, 3) << "a status request asked the keyring after the end had begun";

    // Whoever else asks the keyring now (Git, the dashboard, the refresher) is answered at once.
    SystemKeychainStore later(10min);
    EXPECT_FALSE(later.load("app.pelko.test.silent", "default"));
    EXPECT_FALSE(later.save("data", "app.pelko.test.silent", "default"));
    EXPECT_FALSE(later.remove("app.pelko.test.silent", "default"));
}

TEST(SilentKeyring, ThePageIsAnsweredWhileTheKeyringHoldsItsCall) {
    if (Environment::process().get(childVariable)) {
        runAgainstTheSilentService();
        return;
    }
    PrivateBus bus;
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon could not start";

    auto status =
        runTestInChild("SilentKeyring.ThePageIsAnsweredWhileTheKeyringHoldsItsCall",
                       {"DBUS_SESSION_BUS_ADDRESS=" + bus.address, std::string(childVariable) + "=1"}, 240s);
    ASSERT_TRUE(status) << "the checks against the silent keyring did not finish";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "the checks against the silent keyring failed";
}

TEST(SilentKeyring, TheEndWaitsForNoneButAQueuedSignOutAndForThatOnlyWithinItsGrace) {
    if (Environment::process().get(childVariable)) {
        endWhileTheKeyringHoldsCalls();
        return;
    }
    PrivateBus bus;
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon could not start";

    auto status =
        runTestInChild("SilentKeyring.TheEndWaitsForNoneButAQueuedSignOutAndForThatOnlyWithinItsGrace",
                       {"DBUS_SESSION_BUS_ADDRESS=" + bus.address, std::string(childVariable) + "=1"}, 120s);
    ASSERT_TRUE(status) << "the checks against the silent keyring did not finish";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << "the checks against the silent keyring failed";
}

}  // namespace
}  // namespace pelko::test
