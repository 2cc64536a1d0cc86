#pragma once
// Shared test helpers. Every test program's main() (TestMain.cpp) first points HOME, XDG_DATA_HOME,
// XDG_CACHE_HOME, XDG_RUNTIME_DIR and TMPDIR at a fresh temporary folder, then snapshots the
// environment, so no test touches the real user's files.
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.hpp"

namespace pelko::test {

// The per-process temporary root that main() created (removed at exit).
const std::filesystem::path& testRoot();

// A fresh folder under testRoot(), removed with its contents when the object is destroyed.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

  private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& contents);
std::string readFile(const std::filesystem::path& path);
// One parsed JSON value per line (a line that does not parse fails the test).
std::vector<Json> readJsonLines(const std::filesystem::path& path);
// The permission bits (07777) of a file or folder; 0 when it cannot be read.
mode_t fileMode(const std::filesystem::path& path);
// What the shell command `command` printed on standard output, or nothing when it failed.
std::optional<std::string> commandOutput(const std::string& command);
// This process's environment as "NAME=value" entries, with `extra` added or put in place of its own: what
// a child the test starts gets.
std::vector<std::string> processEnvironmentWith(const std::map<std::string, std::string>& extra);

}  // namespace pelko::test
