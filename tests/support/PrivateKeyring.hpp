#pragma once
// A session bus and an unlocked gnome-keyring of their own, for a test's child processes: started by
// the constructor, gone when the object goes (the keyring daemon leaves with its bus). Nothing of the
// test process's own bus is touched.
#include <gio/gio.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace pelko::test {

class PrivateKeyring {
  public:
    explicit PrivateKeyring(const std::filesystem::path& folder) {
        FILE* bus = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", "r");
        if (!bus) return;
        char line[512];
        if (std::fgets(line, sizeof line, bus)) address = std::string(line, std::strcspn(line, "\n"));
        if (std::fgets(line, sizeof line, bus)) busPid = std::atoi(line);
        ::pclose(bus);
        std::string command = "printf pelko-e2e | env DBUS_SESSION_BUS_ADDRESS='" + address +
                              "' XDG_DATA_HOME='" + folder.string() + "' XDG_RUNTIME_DIR='" +
                              folder.string() +
                              "' gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null";
        ready = !address.empty() && busPid > 0 && std::system(command.c_str()) == 0 && serving();
    }
    ~PrivateKeyring() {
        // The keyring daemon leaves with its bus.
        if (busPid > 0) ::kill(busPid, SIGTERM);
    }
    std::string address;
    pid_t busPid = -1;
    bool ready = false;

  private:
    // The daemon may return before its Secret Service is on the bus with the default collection in
    // place; a test that asked at once would see a keyring that refuses.
    bool serving() const {
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (!bus) return false;
        bool found = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!found && std::chrono::steady_clock::now() < deadline) {
            GVariant* alias = g_dbus_connection_call_sync(
                bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
                "ReadAlias", g_variant_new("(s)", "default"), G_VARIANT_TYPE("(o)"),
                G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, nullptr);
            if (alias) {
                const gchar* path = nullptr;
                g_variant_get(alias, "(&o)", &path);
                found = std::strcmp(path, "/") != 0;
                g_variant_unref(alias);
            }
            if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        g_object_unref(bus);
        return found;
    }
};

}  // namespace pelko::test
