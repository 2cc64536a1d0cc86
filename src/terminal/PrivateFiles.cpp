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

int openForAppend(const std::filesystem::path& file) {
    return open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

bool writeAll(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool append(const std::filesystem::path& file, std::string_view bytes) {
    int fd = openForAppend(file);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes);
    if (close(fd) != 0) ok = false;
    return ok;
}

}  // namespace pelko::privatefiles
