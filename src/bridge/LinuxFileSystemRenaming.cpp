#include "bridge/LinuxFileSystemRenaming.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

namespace pelko {

std::optional<FileIdentity> LinuxFileSystemRenaming::itemIdentity(const std::filesystem::path& path) const {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

std::error_code LinuxFileSystemRenaming::moveItemNoReplace(const std::filesystem::path& from,
                                                           const std::filesystem::path& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL) return {errno, std::generic_category()};
    // A file system without RENAME_NOREPLACE (some network and FUSE mounts) would otherwise make
    // every rename fail; there the check and the move are two calls.
    struct stat info {};
    if (lstat(to.c_str(), &info) == 0) return std::make_error_code(std::errc::file_exists);
    if (rename(from.c_str(), to.c_str()) == 0) return {};
    return {errno, std::generic_category()};
}

}  // namespace pelko
