#include "platform/AtomicFile.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <optional>

#include "platform/Date.hpp"
#include "platform/UniqueFd.hpp"

namespace fs = std::filesystem;

namespace pelko {

namespace {

constexpr std::string_view kTemporaryMarker = ".tmp-";
constexpr std::size_t kRandomLength = 6;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// Creates missing folders one by one so only the new ones get `mode`.
std::error_code createFolders(const fs::path& folder, mode_t mode) {
    fs::path current;
    for (const auto& part : folder) {
        current /= part;
        if (mkdir(current.c_str(), mode) == 0) {
            chmod(current.c_str(), mode);  // mkdir applies the umask
            continue;
        }
        if (errno != EEXIST) return lastError();
        struct stat info {};
        if (stat(current.c_str(), &info) != 0) return lastError();
        if (!S_ISDIR(info.st_mode)) return std::make_error_code(std::errc::not_a_directory);
    }
    return {};
}

std::error_code writeAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        ssize_t written = write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

// Writes through to the file a symbolic link points at, so the link survives.
fs::path resolvedTarget(const fs::path& target) {
    std::error_code ec;
    if (!fs::is_symlink(target, ec)) return target;
    fs::path real = fs::canonical(target, ec);
    return ec ? target : real;
}

// "." + name + ".tmp-" without its random tail, the name cut short so the whole fits NAME_MAX.
std::string temporaryPrefix(const std::string& name) {
    const std::size_t room = NAME_MAX - 1 - kTemporaryMarker.size() - kRandomLength;
    return "." + name.substr(0, room) + std::string(kTemporaryMarker);
}

std::string randomSuffix() {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[kRandomLength] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Uniqueness comes from O_EXCL; the randomness only spares retries.
        const auto seed = static_cast<unsigned long>(getpid()) ^ static_cast<unsigned long>(clock());
        for (std::size_t i = 0; i < kRandomLength; ++i)
            bytes[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
    std::string suffix;
    for (unsigned char byte : bytes) suffix.push_back(kAlphabet[byte % (sizeof kAlphabet - 1)]);
    return suffix;
}

// Where the kernel keeps a file's access ACL. Copied as it is stored, so every entry survives.
constexpr const char* kAccessAcl = "system.posix_acl_access";

bool noAclHere(int error) {
    return error == ENODATA || error == EOPNOTSUPP;
}

// Where the ACL of `file`, an O_PATH descriptor of `name` in `folder`, is read from, found once: the
// descriptor itself; on older kernels, which take no O_PATH descriptor for xattrs (EBADF), its /proc
// link, which needs no right to read the file; without /proc, the file opened for reading.
class AclReader {
  public:
    std::error_code find(int file, int folder, const std::string& name) {
        if (fgetxattr(file, kAccessAcl, nullptr, 0) >= 0 || errno != EBADF) {
            fd_ = file;
            return {};
        }
        path_ = "/proc/self/fd/" + std::to_string(file);
        if (getxattr(path_.c_str(), kAccessAcl, nullptr, 0) >= 0 || errno != ENOENT) return {};
        path_.clear();
        opened_.reset(
            openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat pinned {};
        struct stat reopened {};
        if (!opened_.valid() || fstat(file, &pinned) != 0 || fstat(opened_.get(), &reopened) != 0)
            return lastError();
        // Replaced meanwhile: the name is no longer the file whose mode was read.
        if (pinned.st_dev != reopened.st_dev || pinned.st_ino != reopened.st_ino)
            return std::make_error_code(std::errc::resource_unavailable_try_again);
        fd_ = opened_.get();
        return {};
    }

    // As getxattr does.
    ssize_t get(char* buffer, std::size_t size) const {
        return fd_ >= 0 ? fgetxattr(fd_, kAccessAcl, buffer, size)
                        : getxattr(path_.c_str(), kAccessAcl, buffer, size);
    }

  private:
    int fd_ = -1;
    std::string path_;
    UniqueFd opened_;
};

// What a replaced file gives: its mode, owner and group, and its access ACL (empty when it has none
// or its file system keeps none).
struct Access {
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    std::string acl;
};

// The access of `name` in `folder` when that is a regular file, its mode and ACL read as one: a
// change between the two (its ctime) reads both again. Nothing, and no error, when there is no such
// file.
std::error_code accessOf(int folder, const std::string& name, std::optional<Access>& found) {
    found.reset();
    const UniqueFd file(openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid()) return errno == ENOENT ? std::error_code{} : lastError();
    struct stat before {};
    if (fstat(file.get(), &before) != 0) return lastError();
    if (!S_ISREG(before.st_mode)) return {};
    AclReader reader;
    if (auto error = reader.find(file.get(), folder, name)) return error;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (attempt > 0 && fstat(file.get(), &before) != 0) return lastError();
        Access access{before.st_mode & 07777, before.st_uid, before.st_gid, {}};
        ssize_t size = reader.get(nullptr, 0);
        if (size > 0) {
            access.acl.resize(static_cast<std::size_t>(size));
            size = reader.get(access.acl.data(), access.acl.size());
            if (size >= 0) access.acl.resize(static_cast<std::size_t>(size));
        }
        if (size < 0) {
            if (noAclHere(errno)) {
                access.acl.clear();
            } else if (errno == ERANGE) {  // it grew in between
                continue;
            } else {
                return lastError();
            }
        }
        struct stat after {};
        if (fstat(file.get(), &after) != 0) return lastError();
        if (after.st_ctim.tv_sec == before.st_ctim.tv_sec &&
            after.st_ctim.tv_nsec == before.st_ctim.tv_nsec) {
            found = std::move(access);
            return {};
        }
    }
    return std::make_error_code(std::errc::resource_unavailable_try_again);
}

// Gives the temporary file `fd` the access the replaced file had: its ACL (or none, whatever the
// folder's default ACL gave the temporary), then its mode. A set-id bit names the file's owner or
// group, which are ours now: it is kept only where those are the replaced file's.
std::error_code takeAccessOf(int fd, const Access& access) {
    if (access.acl.empty() ? fremovexattr(fd, kAccessAcl) != 0 && !noAclHere(errno)
                           : fsetxattr(fd, kAccessAcl, access.acl.data(), access.acl.size(), 0) != 0)
        return lastError();
    struct stat made {};
    if (fstat(fd, &made) != 0) return lastError();
    mode_t mode = access.mode;
    if (made.st_uid != access.owner) mode &= ~mode_t(S_ISUID);
    if (made.st_gid != access.group) mode &= ~mode_t(S_ISGID);
    // We own the file we just made, so a refusal is the file system's: one that keeps no modes (exFAT,
    // FAT) gives every file the mode of its mount options, and the replaced file had that one too.
    if (fchmod(fd, mode) != 0 && errno != EPERM) return lastError();
    return {};
}

}  // namespace

std::error_code writeFileAtomically(const fs::path& requested, std::string_view contents,
                                    const AtomicWriteOptions& options) {
    const fs::path target = resolvedTarget(requested);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (options.createParents) {
        if (auto error = createFolders(folder, options.privateFolder ? 0700 : 0755)) return error;
    }
    UniqueFd folderFd(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid()) return lastError();
    return writeFileAtomicallyAt(folderFd.get(), target.filename().string(), contents, options);
}

std::error_code writeFileAtomicallyAt(int folder, const std::string& name, std::string_view contents,
                                      const AtomicWriteOptions& options) {
    // Access that cannot be read cannot be kept: the file stays as it is.
    std::optional<Access> replaced;
    if (auto error = accessOf(folder, name, replaced)) return error;

    const std::string prefix = temporaryPrefix(name);
    std::string temp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 16 && !fd.valid(); ++attempt) {
        temp = prefix + randomSuffix();
        // A new file is made as any program makes one: the kernel applies the umask or the folder's
        // default ACL, and nothing changes that afterwards. The one replacing a file is private while
        // it fills, so neither the new content of a private file nor what a crash leaves behind is
        // readable by others.
        const mode_t mode = replaced ? 0600 : options.newFileMode & 07777;
        fd.reset(openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd.valid() && errno != EEXIST) return lastError();
    }
    if (!fd.valid()) return lastError();

    std::error_code error = writeAll(fd.get(), contents);
    // The replaced file's access once the content is complete, and synced with it, so a crash after
    // the rename cannot leave the file private.
    if (!error && replaced) error = takeAccessOf(fd.get(), *replaced);
    if (!error && fsync(fd.get()) != 0) error = lastError();
    if (close(fd.release()) != 0 && !error) error = lastError();
    if (!error && renameat(folder, temp.c_str(), folder, name.c_str()) != 0) error = lastError();
    if (error) {
        unlinkat(folder, temp.c_str(), 0);
        return error;
    }

    // The rename is done; syncing the folder makes it durable but cannot undo it, so a failure here
    // is not reported as a failed write.
    UniqueFd syncFd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (syncFd.valid()) fsync(syncFd.get());
    return {};
}

std::size_t removeStaleTemporaries(const fs::path& folder, const std::string& targetName,
                                   std::chrono::seconds minimumAge) {
    UniqueFd folderFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid()) return 0;
    DIR* stream = fdopendir(dup(folderFd.get()));
    if (!stream) return 0;
    const std::string prefix = temporaryPrefix(targetName);
    const auto now = std::chrono::system_clock::now();
    std::size_t removed = 0;
    while (const dirent* entry = readdir(stream)) {
        const std::string_view entryName(entry->d_name);
        if (!entryName.starts_with(prefix) || entryName.size() != prefix.size() + kRandomLength) continue;
        struct stat info {};
        if (fstatat(folderFd.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        const auto modified = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
        if (now - modified < minimumAge) continue;
        if (unlinkat(folderFd.get(), entry->d_name, 0) == 0) ++removed;
    }
    closedir(stream);
    return removed;
}

std::error_code keepUnreadableFile(const fs::path& file, fs::path& keptAs) {
    keptAs.clear();
    std::string stamp;
    for (char c : Date::now().isoSeconds()) {
        if (c != '-' && c != ':') stamp.push_back(c);
    }
    const std::string base = file.string() + ".corrupt-" + stamp;
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const std::string candidate = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        int result = renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE);
        if (result != 0 && errno == EINVAL) {
            // A file system without RENAME_NOREPLACE: the check and the move are two calls there.
            struct stat taken {};
            if (lstat(candidate.c_str(), &taken) == 0) continue;
            result = rename(file.c_str(), candidate.c_str());
        }
        if (result == 0) {
            keptAs = candidate;
            return {};
        }
        // Gone already (the user removed it): nothing is left to keep.
        if (errno == ENOENT) return {};
        if (errno != EEXIST) return lastError();
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code readWholeFile(const fs::path& path, std::string& contents) {
    // Non-blocking so that a FIFO in place of the file is refused instead of hanging the reader.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return lastError();
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        std::error_code error = lastError();
        close(fd);
        return error;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return std::make_error_code(S_ISDIR(info.st_mode) ? std::errc::is_a_directory
                                                          : std::errc::invalid_argument);
    }
    std::string result;
    result.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            auto error = lastError();
            close(fd);
            return error;
        }
        if (count == 0) break;
        result.append(buffer, static_cast<std::size_t>(count));
    }
    close(fd);
    contents = std::move(result);
    return {};
}

}  // namespace pelko
