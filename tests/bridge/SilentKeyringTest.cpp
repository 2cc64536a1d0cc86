// The sign-in status against a Secret Service that takes every call and never answers. The checks run
// in a child of this test program on a private bus of the test's own (no keyring, and nothing it could
// start), where the child owns the Secret Service's name itself and drops every call it receives.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "bridge/BridgeTestSupport.hpp"
#include "config/AppConfig.hpp"
#include "github/GitAuthManager.hpp"
#include "github/SystemKeychainStore.hpp"
#include "platform/Environment.hpp"

namespace pelko::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* childVariable = "PELKO_SILENT_KEYRING_CHILD";
// D-Bus's own limit for a call without one of its own.
constexpr auto dbusDefaultTimeout = 25s;

// Owns "org.freedesktop.secrets" on the session bus over a connection of its own and drops every method
// call that reaches it, unanswered. Leaving the bus ends the calls it holds: the bus answers each with
// an error.
class SilentSecretService {
  public:
    SilentSecretService() {
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (address) {
            connection_ = g_dbus_connection_new_for_address_sync(
                address,
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
            g_free(address);
        }
        g_clear_error(&error);
        if (!connection_) return;
        g_dbus_connection_add_filter(connection_, &SilentSecretService::drop, this, nullptr);
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 4u /* do not queue */),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, &error);
        g_clear_error(&error);
        if (!reply) return;
        guint32 result = 0;
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
        owned = result == 1;  // the primary owner
    }
    ~SilentSecretService() { leave(); }
    SilentSecretService(const SilentSecretService&) = delete;
    SilentSecretService& operator=(const SilentSecretService&) = delete;

    void leave() {
        if (!connection_) return;
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
        connection_ = nullptr;
    }
    int callsHeld() const { return held_.load(); }

    bool owned = false;

  private:
    static GDBusMessage* drop(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer self) {
        if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
            return message;
        ++static_cast<SilentSecretService*>(self)->held_;
        g_object_unref(message);
        return nullptr;
    }

    GDBusConnection* connection_ = nullptr;
    std::atomic<int> held_{0};
};

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

// A private bus with nothing to start: a Secret Service that the test does not run is never started.
class PrivateBus {
  public:
    PrivateBus() : bus_(g_test_dbus_new(G_TEST_DBUS_NONE)) {
        g_test_dbus_up(bus_);
        address = g_test_dbus_get_bus_address(bus_);
    }
    ~PrivateBus() {
        g_test_dbus_down(bus_);
        g_object_unref(bus_);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    std::string address;

  private:
    GTestDBus* bus_;
};

TEST(SilentKeyring, ThePageIsAnsweredWhileTheKeyringHoldsItsCall) {
    if (Environment::process().get(childVariable)) {
        runAgainstTheSilentService();
        return;
    }
    PrivateBus bus;
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon could not start";

    std::string address = "DBUS_SESSION_BUS_ADDRESS=" + bus.address;
    std::string child = std::string(childVariable) + "=1";
    char* envp[] = {address.data(), child.data(), nullptr};
    std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=SilentKeyring.ThePageIsAnsweredWhileTheKeyringHoldsItsCall";
    char* argv[] = {program.data(), filter.data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp), 0);

    int status = 0;
    auto deadline = Clock::now() + 240s;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the checks against the silent keyring did not finish";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the checks against the silent keyring failed";
}

}  // namespace
}  // namespace pelko::test
