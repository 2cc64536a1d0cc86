#include "platform/ProjectDirectory.hpp"

#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <vector>

#include "platform/ProjectPath.hpp"

namespace pelko {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own walk

// One name beneath `folder`; a link opens as the link itself.
int openComponent(int folder, const std::string& name) {
    open_how how{};
    how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        long fd = syscall(SYS_openat2, folder, name.c_str(), &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        if (errno == EAGAIN || errno == EINTR) continue;
        // Kernels before 5.6, or a sandbox that filters the call: one name with O_NOFOLLOW is beneath
        // the folder all the same.
        if (errno == ENOSYS || errno == EPERM) return ::openat(folder, name.c_str(), how.flags);
        return -1;
    }
}

std::optional<std::string> readLink(int linkFd) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(linkFd, "", target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    return target;
}

void prependComponents(std::deque<std::string>& pending, std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    pending.insert(pending.begin(), parts.begin(), parts.end());
}

UniqueFd duplicate(int fd) {
    return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

}  // namespace

std::string ResolveError::description() const {
    switch (code) {
        case Code::outside:
            return "outside";
        case Code::notFound:
            return "notFound (systemError: " + std::to_string(systemError) + ")";
        case Code::failed:
            return "failed (systemError: " + std::to_string(systemError) + ")";
    }
    return {};
}

ProjectDirectory::ProjectDirectory(UniqueFd root, std::string givenPath, std::string realPath)
    : root_(std::move(root)), givenPath_(std::move(givenPath)), realPath_(std::move(realPath)) {}

std::optional<ProjectDirectory> ProjectDirectory::open(const std::filesystem::path& root, int* systemError) {
    UniqueFd fd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        if (systemError) *systemError = errno;
        return std::nullopt;
    }
    std::string given = ProjectPath::standardize(root.string());
    std::string real = given;
    if (char* resolved = ::realpath(given.c_str(), nullptr)) {
        real = resolved;
        ::free(resolved);
    }
    return ProjectDirectory(std::move(fd), std::move(given), std::move(real));
}

std::optional<std::string> ProjectDirectory::insideRoot(std::string_view absoluteLink) const {
    if (auto relative = ProjectPath::relativeTo(absoluteLink, realPath_)) return relative;
    return ProjectPath::relativeTo(absoluteLink, givenPath_);
}

std::optional<ProjectDirectory::Entry> ProjectDirectory::resolve(std::string_view relativePath,
                                                                 FinalLink finalLink,
                                                                 ResolveError& error) const {
    // The folders walked through, the root first; `names` are their names below the root.
    std::vector<UniqueFd> folders;
    std::vector<std::string> names;
    auto current = [&] { return folders.empty() ? root_.get() : folders.back().get(); };
    auto fail = [&](ResolveError::Code code, int systemError = 0) {
        error = ResolveError{code, systemError};
        return std::nullopt;
    };
    auto folderPath = [&] {
        std::string path;
        for (const auto& name : names) path = ProjectPath::join(path, name);
        return path;
    };
    auto entryFor = [&](std::string name, std::optional<struct stat> status) -> std::optional<Entry> {
        UniqueFd folder = duplicate(current());
        if (!folder.valid()) return fail(ResolveError::Code::failed, errno);
        std::string path = name == "." ? folderPath() : ProjectPath::join(folderPath(), name);
        return Entry{std::move(folder), std::move(name), std::move(path), status};
    };

    std::deque<std::string> pending;
    prependComponents(pending, relativePath);
    int links = 0;
    while (!pending.empty()) {
        std::string name = std::move(pending.front());
        pending.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            if (folders.empty()) return fail(ResolveError::Code::outside);
            folders.pop_back();
            names.pop_back();
            continue;
        }
        const bool last = pending.empty();
        if (last && finalLink == FinalLink::keep) {
            struct stat status {};
            if (::fstatat(current(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0)
                return entryFor(std::move(name), status);
            if (errno == ENOENT) return entryFor(std::move(name), std::nullopt);
            return fail(errno == ENOTDIR ? ResolveError::Code::notFound : ResolveError::Code::failed, errno);
        }
        UniqueFd item(openComponent(current(), name));
        if (!item.valid()) {
            if (errno == ENOENT && last) return entryFor(std::move(name), std::nullopt);
            if (errno == EXDEV) return fail(ResolveError::Code::outside);
            if (errno == ENOENT || errno == ENOTDIR) return fail(ResolveError::Code::notFound, errno);
            return fail(ResolveError::Code::failed, errno);
        }
        struct stat status {};
        if (::fstat(item.get(), &status) != 0) return fail(ResolveError::Code::failed, errno);
        if (S_ISLNK(status.st_mode)) {
            if (++links > kMaxLinks) return fail(ResolveError::Code::notFound, ELOOP);
            auto target = readLink(item.get());
            if (!target) return fail(ResolveError::Code::failed, errno ? errno : ENAMETOOLONG);
            if (target->starts_with('/')) {
                auto inside = insideRoot(*target);
                if (!inside) return fail(ResolveError::Code::outside);
                folders.clear();
                names.clear();
                prependComponents(pending, *inside);
            } else {
                prependComponents(pending, *target);
            }
            continue;
        }
        if (last) return entryFor(std::move(name), status);
        if (!S_ISDIR(status.st_mode)) return fail(ResolveError::Code::notFound, ENOTDIR);
        folders.push_back(std::move(item));
        names.push_back(std::move(name));
    }
    struct stat status {};
    if (::fstat(current(), &status) != 0) return fail(ResolveError::Code::failed, errno);
    return entryFor(".", status);
}

UniqueFd ProjectDirectory::openItem(const Entry& entry, int flags) {
    return UniqueFd(::openat(entry.folder.get(), entry.name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC));
}

UniqueFd ProjectDirectory::openFolder(const Entry& entry) {
    return UniqueFd(::openat(entry.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool ProjectDirectory::readUpTo(int fd, std::size_t limit, std::string& bytes) {
    char buffer[1 << 16];
    while (bytes.size() < limit) {
        const std::size_t want = std::min(sizeof buffer, limit - bytes.size());
        const ssize_t count = ::read(fd, buffer, want);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (count == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

}  // namespace pelko
