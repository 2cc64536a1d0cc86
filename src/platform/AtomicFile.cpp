#include "platform/AtomicFile.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fs = std::filesystem;

namespace pelko {

namespace {

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

}  // namespace

std::error_code writeFileAtomically(const fs::path& requested, std::string_view contents,
                                    const AtomicWriteOptions& options) {
    const fs::path target = resolvedTarget(requested);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (options.createParents) {
        if (auto error = createFolders(folder, options.privateFolder ? 0700 : 0755)) return error;
    }

    mode_t mode = options.newFileMode;
    struct stat existing {};
    if (stat(target.c_str(), &existing) == 0) mode = existing.st_mode & 07777;

    std::string temp = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return lastError();

    std::error_code error = writeAll(fd, contents);
    if (!error && fchmod(fd, mode) != 0) error = lastError();
    if (!error && fsync(fd) != 0) error = lastError();
    if (close(fd) != 0 && !error) error = lastError();
    if (!error && rename(temp.c_str(), target.c_str()) != 0) error = lastError();
    if (error) {
        unlink(temp.c_str());
        return error;
    }

    // The rename is done; syncing the folder makes it durable but cannot undo it, so a failure here
    // is not reported as a failed write.
    int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
    return {};
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
