#include "bridge/LinuxFileSystemRenaming.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

namespace pelko {

std::optional<FileIdentity> LinuxFileSystemRenaming::itemIdentity(int folder, const std::string& name) const {
    struct stat info {};
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

std::error_code LinuxFileSystemRenaming::moveItemNoReplace(int folder, const std::string& from,
                                                           const std::string& to) {
    if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL) return {errno, std::generic_category()};
    // A file system without RENAME_NOREPLACE (some network and FUSE mounts) would otherwise make
    // every rename fail; there the check and the move are two calls.
    struct stat info {};
    if (fstatat(folder, to.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        return std::make_error_code(std::errc::file_exists);
    if (renameat(folder, from.c_str(), folder, to.c_str()) == 0) return {};
    return {errno, std::generic_category()};
}

}  // namespace pelko
