#pragma once
// A Secret Service that never answers, and a private bus for it, for the tests and benchmarks that run
// against one on a bus of their own.
#include <gio/gio.h>

#include <atomic>
#include <string>

namespace pelko::test {

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

// Owns "org.freedesktop.secrets" on the session bus (or the bus at `busAddress`) over a connection of
// its own and drops every method call that reaches it, unanswered. Leaving the bus ends the calls it
// holds: the bus answers each with an error.
class SilentSecretService {
  public:
    explicit SilentSecretService(const std::string& busAddress = {}) {
        GError* error = nullptr;
        gchar* address = busAddress.empty()
                             ? g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error)
                             : g_strdup(busAddress.c_str());
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

}  // namespace pelko::test
