#include "platform/XdgFolders.hpp"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace pelko {

namespace {

fs::path passwordHome() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result ||
        !result->pw_dir) {
        return "/";
    }
    return result->pw_dir;
}

// The variable when it holds an absolute path (relative XDG paths are invalid and ignored).
std::optional<fs::path> absolute(const Environment& environment, const std::string& name) {
    auto value = environment.nonEmpty(name);
    if (!value || fs::path(*value).is_relative()) return std::nullopt;
    return fs::path(*value);
}

// The runtime folders this process made, removed with what they hold when the process exits. Only these:
// a folder named by XDG_RUNTIME_DIR belongs to the session.
class MadeRuntimeFolders {
  public:
    ~MadeRuntimeFolders() {
        std::lock_guard lock(mutex_);
        for (const auto& folder : folders_) {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    }
    void add(const fs::path& folder) {
        std::lock_guard lock(mutex_);
        folders_.push_back(folder);
    }

  private:
    std::mutex mutex_;
    std::vector<fs::path> folders_;
};

MadeRuntimeFolders& madeRuntimeFolders() {
    static MadeRuntimeFolders folders;
    return folders;
}

}  // namespace

XdgFolders XdgFolders::from(const Environment& environment) {
    XdgFolders folders;
    auto home = environment.nonEmpty("HOME");
    folders.home = home ? fs::path(*home) : passwordHome();
    folders.dataHome = absolute(environment, "XDG_DATA_HOME").value_or(folders.home / ".local" / "share");
    folders.cacheHome = absolute(environment, "XDG_CACHE_HOME").value_or(folders.home / ".cache");
    folders.runtimeDir = absolute(environment, "XDG_RUNTIME_DIR").value_or(fs::path());
    folders.tempDir = environment.nonEmpty("TMPDIR").value_or("/tmp");
    return folders;
}

const XdgFolders& XdgFolders::process() {
    static const XdgFolders folders = from(Environment::process());
    return folders;
}

fs::path XdgFolders::ensurePrivateRuntimeDir() const {
    if (!runtimeDir.empty()) return runtimeDir;
    // The registry is made first, so it is torn down after any static object made later that uses the folder.
    auto& made = madeRuntimeFolders();
    std::string pattern = (tempDir / "pelko-runtime.XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    made.add(pattern);
    return pattern;
}

std::string expandTilde(const std::string& path, const fs::path& home) {
    if (path == "~") return home.string();
    if (path.starts_with("~/")) {
        // Extra slashes must not turn the rest into an absolute path that replaces the home folder.
        auto rest = path.find_first_not_of('/', 1);
        return (home / (rest == std::string::npos ? std::string() : path.substr(rest))).string();
    }
    return path;
}

}  // namespace pelko
