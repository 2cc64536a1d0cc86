#include "platform/DataFolderLock.hpp"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <system_error>

namespace pelko {

namespace {

std::string systemText() {
    return std::error_code(errno, std::generic_category()).message();
}

}  // namespace

DataFolderLock DataFolderLock::take(const std::filesystem::path& folder) {
    // O_DIRECTORY: only a directory opens, and opening one never waits on anyone.
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) return {Outcome::unavailable, {}, systemText()};
    int result;
    do {
        result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return {Outcome::held, std::move(fd), {}};
    if (errno == EWOULDBLOCK) return {Outcome::heldElsewhere, {}, {}};
    return {Outcome::unavailable, {}, systemText()};
}

}  // namespace pelko
