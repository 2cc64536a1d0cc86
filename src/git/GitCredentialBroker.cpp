#include "git/GitCredentialBroker.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "git/GitCredentialBrokerError.hpp"
#include "platform/Uuid.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

namespace {

using Code = GitCredentialBrokerError::Code;

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports close's own failure (a deferred write error shows up there).
    int close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

// Opens the scripts folder, creating it (mode 0700) or replacing a plain file in its place; refuses a
// symbolic link and a folder of another user.
Descriptor openFolder(const std::filesystem::path& folder) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) throw GitCredentialBrokerError(Code::unsafeFolder);
        if (!S_ISDIR(info.st_mode) && unlink(folder.c_str()) != 0) {
            throw GitCredentialBrokerError(Code::folderFailed, errno);
        }
    } else if (errno != ENOENT) {
        throw GitCredentialBrokerError(Code::folderFailed, errno);
    }
    std::error_code error;
    std::filesystem::create_directories(folder.parent_path(), error);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw GitCredentialBrokerError(Code::folderFailed, errno);

    Descriptor fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) {
        throw GitCredentialBrokerError(
            errno == ELOOP || errno == ENOTDIR ? Code::unsafeFolder : Code::folderFailed, errno);
    }
    if (fstat(fd.get(), &info) != 0) throw GitCredentialBrokerError(Code::folderFailed, errno);
    if (info.st_uid != geteuid()) throw GitCredentialBrokerError(Code::unsafeFolder);
    if ((info.st_mode & 07777) != 0700 && fchmod(fd.get(), 0700) != 0) {
        throw GitCredentialBrokerError(Code::folderFailed, errno);
    }
    return fd;
}

}  // namespace

const std::string GitCredentialBroker::scriptText =
    "#!/bin/bash\n"
    "prompt=\"$1\"\n"
    "# git names the address it asks for: \"Password for 'scheme://user@host:port': \". Only GitHub's\n"
    "# scheme, host (or a subdomain) and port get an answer; a path, a second \"@\" or a \"/\" in the user\n"
    "# makes the address ambiguous and gets none.\n"
    "url=\"${prompt#*\\'}\"\n"
    "url=\"${url%\\'*}\"\n"
    "scheme=\"${url%%://*}\"\n"
    "authority=\"${url#*://}\"\n"
    "if [[ \"$url\" != *://* || \"$authority\" == */* || \"$authority\" == *@*@* ]]; then\n"
    "  exit 1\n"
    "fi\n"
    "hostport=\"${authority##*@}\"\n"
    "host=\"${hostport%:*}\"\n"
    "port=\"${hostport##*:}\"\n"
    "if [[ \"$hostport\" != *:* ]]; then\n"
    "  host=\"$hostport\"\n"
    "  case \"${scheme,,}\" in\n"
    "    https) port=443 ;;\n"
    "    http) port=80 ;;\n"
    "    *) port=\"\" ;;\n"
    "  esac\n"
    "fi\n"
    "host=\"${host,,}\"\n"
    "if [[ -z \"$PELKO_GITHUB_HOST\" || \"${scheme,,}\" != \"$PELKO_GITHUB_SCHEME\" ]]; then\n"
    "  exit 1\n"
    "fi\n"
    "if [[ \"$port\" != \"$PELKO_GITHUB_PORT\" ]]; then\n"
    "  exit 1\n"
    "fi\n"
    "if [[ \"$host\" != \"$PELKO_GITHUB_HOST\" && \"$host\" != *\".$PELKO_GITHUB_HOST\" ]]; then\n"
    "  exit 1\n"
    "fi\n"
    "case \"$prompt\" in\n"
    "  *\"Username for \"*)\n"
    "    echo \"x-access-token\"\n"
    "    ;;\n"
    "  *)\n"
    "    if [[ -n \"$PELKO_GITHUB_TOKEN\" ]]; then\n"
    "      echo \"$PELKO_GITHUB_TOKEN\"\n"
    "    else\n"
    "      echo \"\"\n"
    "    fi\n"
    "    ;;\n"
    "esac";

GitCredentialBroker::GitCredentialBroker(std::optional<std::filesystem::path> tempDirectory)
    : tempDirectory_(std::move(tempDirectory)) {}

std::filesystem::path GitCredentialBroker::folder() {
    if (!tempDirectory_) {
        auto runtime = XdgFolders::process().ensurePrivateRuntimeDir();
        if (runtime.empty()) throw GitCredentialBrokerError(Code::noPrivateFolder);
        tempDirectory_ = runtime / "pelko-git-credentials";
    }
    return *tempDirectory_;
}

std::map<std::string, std::string> GitCredentialBroker::prepareEnvironment(const std::string& token,
                                                                           const GitHubWebOrigin& gitHub) {
    std::lock_guard lock(mutex_);
    std::filesystem::path directory = folder();
    Descriptor folderFd = openFolder(directory);

    std::string name = "pelko-askpass-" + Uuid::random().string();
    Descriptor file(
        openat(folderFd.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
    if (file.get() < 0) throw GitCredentialBrokerError(Code::writeFailed, errno);
    auto fail = [&](int error) {
        unlinkat(folderFd.get(), name.c_str(), 0);
        throw GitCredentialBrokerError(Code::writeFailed, error);
    };
    std::size_t written = 0;
    while (written < scriptText.size()) {
        ssize_t count = write(file.get(), scriptText.data() + written, scriptText.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) fail(count < 0 ? errno : EIO);
        written += static_cast<std::size_t>(count);
    }
    // The umask may have narrowed the mode; the owner must be able to run it.
    if (fchmod(file.get(), 0700) != 0) fail(errno);
    // Closed before git runs it: an executable still open for writing cannot be started.
    if (file.close() != 0) fail(errno);

    std::filesystem::path script = directory / name;
    scripts_.insert(script);
    std::map<std::string, std::string> environment{
        {"GIT_ASKPASS", script.string()}, {"GIT_ASKPASS_REQUIRE", "force"}, {"PELKO_GITHUB_TOKEN", token}};
    environment.merge(gitHub.environment());
    return environment;
}

void GitCredentialBroker::cleanup(const std::map<std::string, std::string>& prepared) {
    auto script = prepared.find("GIT_ASKPASS");
    if (script == prepared.end()) return;
    std::lock_guard lock(mutex_);
    // Only a script this broker made and has not removed yet: another run's stays.
    if (scripts_.erase(script->second) == 0) return;
    unlink(script->second.c_str());
}

}  // namespace pelko
