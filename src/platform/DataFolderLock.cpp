#include "platform/DataFolderLock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace pelko {

namespace {

std::string systemText() {
    return std::error_code(errno, std::generic_category()).message();
}

}  // namespace

DataFolderLock DataFolderLock::take(const std::filesystem::path& folder) {
    const auto path = folder / fileName;
    // O_NONBLOCK: a FIFO put at the lock's name must not hold the start up.
    UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600));
    if (!fd.valid()) return {Outcome::unavailable, {}, systemText()};
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return {Outcome::unavailable, {}, systemText()};
    if (!S_ISREG(info.st_mode)) return {Outcome::unavailable, {}, "not a regular file"};
    int result;
    do {
        result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return {Outcome::held, std::move(fd), {}};
    if (errno == EWOULDBLOCK) return {Outcome::heldElsewhere, {}, {}};
    return {Outcome::unavailable, {}, systemText()};
}

}  // namespace pelko
