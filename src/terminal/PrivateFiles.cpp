#include "terminal/PrivateFiles.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace pelko::privatefiles {

bool ensureFolder(const std::filesystem::path& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    if (folder.has_parent_path() && folder.parent_path() != folder) ensureFolder(folder.parent_path());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return std::filesystem::is_directory(folder, error);
}

bool append(const std::filesystem::path& file, std::string_view bytes) {
    int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (close(fd) != 0) ok = false;
    return ok;
}

}  // namespace pelko::privatefiles
