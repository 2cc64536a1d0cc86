#pragma once
// A session bus and an unlocked gnome-keyring of their own, for a test's child processes: started by
// the constructor, gone when the object goes (the keyring daemon leaves with its bus). Nothing of the
// test process's own bus is touched.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

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
        ready = !address.empty() && busPid > 0 && std::system(command.c_str()) == 0;
    }
    ~PrivateKeyring() {
        // The keyring daemon leaves with its bus.
        if (busPid > 0) ::kill(busPid, SIGTERM);
    }
    std::string address;
    pid_t busPid = -1;
    bool ready = false;
};

}  // namespace pelko::test
