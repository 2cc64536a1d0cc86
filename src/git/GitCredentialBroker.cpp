#include "git/GitCredentialBroker.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "git/GitCredentialBrokerError.hpp"
#include "platform/UniqueFd.hpp"
#include "platform/Uuid.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

namespace {

using Code = GitCredentialBrokerError::Code;

constexpr const char* scriptName = "credential-helper";
constexpr const char* refusedName = "refused";

// For the shell git starts a helper with: one word, whatever the path holds.
std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// Opens the scripts folder, creating it (mode 0700) or replacing a plain file in its place; refuses a
// symbolic link and a folder of another user.
UniqueFd openFolder(const std::filesystem::path& folder) {
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

    UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
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

const std::string GitCredentialBroker::scriptText = R"SCRIPT(#!/bin/bash
# git runs this script as its credential helper ("get", "store" or "erase", the credential on standard
# input) and as its askpass program (a prompt). "get" is answered with the token only for GitHub's
# scheme, host (or a subdomain) and port, as PELKO_GITHUB_SCHEME, PELKO_GITHUB_HOST and
# PELKO_GITHUB_PORT give them, and only with a repository's path: a proxy's address has none, so
# git's request for a proxy's credential gets nothing. git erases a credential only after the server
# refused it, so an "erase" of that very credential is noted as "refused" beside this script. Nothing
# is stored, and every prompt is refused.
case "$1" in
  get | erase) ;;
  store) exit 0 ;;
  *) exit 1 ;;
esac
protocol=""
host=""
path=""
password=""
count=0
while IFS= read -r -n 4097 line || [[ -n "$line" ]]; do
  if [[ -z "$line" ]]; then
    break
  fi
  count=$((count + 1))
  if ((${#line} > 4096 || count > 64)); then
    exit 0
  fi
  case "$line" in
    protocol=*) protocol="${line#protocol=}" ;;
    host=*) host="${line#host=}" ;;
    path=*) path="${line#path=}" ;;
    password=*) password="${line#password=}" ;;
  esac
done
protocol="${protocol,,}"
name="${host%:*}"
port="${host##*:}"
if [[ "$host" != *:* ]]; then
  name="$host"
  case "$protocol" in
    https) port=443 ;;
    http) port=80 ;;
    *) port="" ;;
  esac
fi
name="${name,,}"
if [[ -z "$PELKO_GITHUB_HOST" || "$protocol" != "$PELKO_GITHUB_SCHEME" || "$port" != "$PELKO_GITHUB_PORT" ]]; then
  exit 0
fi
if [[ ! "$name" =~ ^[a-z0-9.-]+$ ]]; then
  exit 0
fi
if [[ "$name" != "$PELKO_GITHUB_HOST" && "$name" != *".$PELKO_GITHUB_HOST" ]]; then
  exit 0
fi
token="$PELKO_GITHUB_TOKEN"
if [[ -z "$token" || "$token" == *$'\n'* ]]; then
  exit 0
fi
if [[ "$1" == get ]]; then
  if [[ -z "$path" ]]; then
    exit 0
  fi
  printf 'username=x-access-token\npassword=%s\n' "$token"
elif [[ "$password" == "$token" ]]; then
  set -C
  { : >"${0%/*}/refused"; } 2>/dev/null
fi
exit 0
)SCRIPT";

GitCredentialBroker::GitCredentialBroker(std::optional<std::filesystem::path> tempDirectory)
    : tempDirectory_(std::move(tempDirectory)) {}

std::filesystem::path GitCredentialBroker::folder() {
    if (!tempDirectory_) {
        auto runtime = XdgFolders::process().ensurePrivateRuntimeDir();
        if (runtime.empty()) throw GitCredentialBrokerError(Code::noPrivateFolder);
        tempDirectory_ = runtime / "pelko-git-credentials";
    }
    // git hands the helper's path to a shell and the script finds its folder from it.
    return std::filesystem::absolute(*tempDirectory_);
}

GitCredentialRun GitCredentialBroker::prepareEnvironment(const std::string& token,
                                                         const GitHubWebOrigin& gitHub) {
    std::lock_guard lock(mutex_);
    std::filesystem::path directory = folder();
    UniqueFd folderFd = openFolder(directory);

    const std::string name = "pelko-run-" + Uuid::random().string();
    if (mkdirat(folderFd.get(), name.c_str(), 0700) != 0)
        throw GitCredentialBrokerError(Code::writeFailed, errno);
    auto fail = [&](int error) {
        unlinkat(folderFd.get(), (name + "/" + scriptName).c_str(), 0);
        unlinkat(folderFd.get(), name.c_str(), AT_REMOVEDIR);
        throw GitCredentialBrokerError(Code::writeFailed, error);
    };
    UniqueFd runFd(openat(folderFd.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // The umask may have narrowed the modes; nobody else may look in, the owner must run the script.
    if (runFd.get() < 0 || fchmod(runFd.get(), 0700) != 0) fail(errno);
    UniqueFd file(
        openat(runFd.get(), scriptName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
    if (file.get() < 0) fail(errno);
    std::size_t written = 0;
    while (written < scriptText.size()) {
        ssize_t count = write(file.get(), scriptText.data() + written, scriptText.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) fail(count < 0 ? errno : EIO);
        written += static_cast<std::size_t>(count);
    }
    if (fchmod(file.get(), 0700) != 0) fail(errno);
    // Closed before git runs it: an executable still open for writing cannot be started.
    // Closed now, and close's own failure counts (a deferred write error shows up there).
    if (::close(file.release()) != 0) fail(errno);

    GitCredentialRun run;
    run.folder = directory / name;
    const std::string script = (run.folder / scriptName).string();
    run.environment = {
        {"GIT_ASKPASS", script}, {"GIT_ASKPASS_REQUIRE", "force"}, {"PELKO_GITHUB_TOKEN", token}};
    run.environment.merge(gitHub.environment());
    // An empty helper empties the list gathered so far (every file's helpers, scoped or not, and
    // options given before ours), so only ours is asked and told. It is told the repository's path,
    // which tells the remote's request from a proxy's.
    const std::string helper = "credential.helper=!" + shellQuoted(script);
    run.options = {"-c", "credential.helper=", "-c", helper, "-c", "credential.useHttpPath=true"};
    runs_.insert(run.folder);
    return run;
}

bool GitCredentialBroker::isOpen(const GitCredentialRun& run) {
    std::lock_guard lock(mutex_);
    return runs_.contains(run.folder);
}

bool GitCredentialBroker::wasRefused(const GitCredentialRun& run) {
    if (!isOpen(run)) return false;
    UniqueFd runFd(open(run.folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (runFd.get() < 0) return false;
    struct stat info {};
    return fstatat(runFd.get(), refusedName, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

void GitCredentialBroker::cleanup(const GitCredentialRun& run) {
    std::lock_guard lock(mutex_);
    // Only a folder this broker made and has not removed yet: another run's stays.
    if (runs_.erase(run.folder) == 0) return;
    std::error_code ignored;
    // Never follows a link, neither the folder (were it swapped for one) nor anything in it.
    std::filesystem::remove_all(run.folder, ignored);
}

}  // namespace pelko
