#include "bridge/ProjectFileOperations.hpp"

#include <fcntl.h>
#include <glib.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

#include "bridge/BridgePayloads.hpp"
#include "bridge/FilePayloads.hpp"
#include "bridge/LinuxFileSystemRenaming.hpp"
#include "platform/AtomicFile.hpp"
#include "platform/Base64.hpp"
#include "platform/XdgFolders.hpp"

namespace fs = std::filesystem;

namespace pelko {

namespace {

constexpr const char* kContentEvent = "project/file/content";
constexpr const char* kConfirmEvent = "project/file/confirm";
constexpr const char* kErrorEvent = "project/file/error";
constexpr const char* kSavedEvent = "project/file/saved";
constexpr const char* kRenamedEvent = "project/file/renamed";
constexpr const char* kExplorerChangedEvent = "project/explorer/changed";

constexpr const char* kRootMissingMessage = "プロジェクトのルートが見つかりませんでした";

enum class ReadError { invalidPath, notFound, directory, unreadable };

std::string readErrorMessage(ReadError error) {
    switch (error) {
        case ReadError::invalidPath:
            return "無効なパスです";
        case ReadError::notFound:
            return "ファイルが見つかりませんでした";
        case ReadError::directory:
            return "ディレクトリは表示できません";
        case ReadError::unreadable:
            return "ファイルをテキストとして読み込めませんでした";
    }
    return {};
}

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string joinComponents(const std::vector<std::string_view>& parts, bool absolute) {
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) result += '/';
        result += parts[i];
    }
    return result;
}

// An absolute path with "." and ".." resolved as text; ".." at "/" stays at "/".
std::string normalizeAbsolute(std::string_view path) {
    std::vector<std::string_view> parts;
    for (std::string_view part : components(path)) {
        if (part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return joinComponents(parts, true);
}

std::string absoluteRoot(const fs::path& root) {
    std::error_code ec;
    fs::path absolute = root.is_absolute() ? root : fs::absolute(root, ec);
    return normalizeAbsolute(absolute.string());
}

// Byte-wise: on Linux two spellings of one accented letter are two different names.
bool isWithin(std::string_view path, std::string_view root) {
    if (path == root) return true;
    if (!path.starts_with(root)) return false;
    return root.ends_with('/') || path[root.size()] == '/';
}

std::string parentOf(std::string_view normalizedAbsolute) {
    std::size_t slash = normalizedAbsolute.rfind('/');
    if (slash == 0 || slash == std::string_view::npos) return "/";
    return std::string(normalizedAbsolute.substr(0, slash));
}

std::string lastComponentOf(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The folder part of a relative path, "" for an item at the top.
std::string folderPartOf(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::optional<std::string> realPath(const std::string& path, int& error) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) {
        error = errno;
        return std::nullopt;
    }
    std::string result(resolved);
    free(resolved);
    return result;
}

std::optional<std::string> realPath(const std::string& path) {
    int ignored = 0;
    return realPath(path, ignored);
}

std::string errorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + length > n) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

bool isNewline(std::uint32_t cp) {
    return (cp >= 0x0A && cp <= 0x0D) || cp == 0x85 || cp == 0x2028 || cp == 0x2029;
}

bool isWhitespaceOrNewline(std::uint32_t cp) {
    return isNewline(cp) || cp == 0x09 || cp == 0x20 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// Code points of valid UTF-8 text with their byte offsets; invalid text yields nothing.
std::vector<std::pair<std::size_t, std::uint32_t>> codePoints(std::string_view text) {
    std::vector<std::pair<std::size_t, std::uint32_t>> result;
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return result;
    const char* begin = text.data();
    const char* end = begin + text.size();
    for (const char* p = begin; p < end; p = g_utf8_next_char(p))
        result.emplace_back(static_cast<std::size_t>(p - begin), g_utf8_get_char(p));
    return result;
}

std::string trimWhitespaceAndNewlines(std::string_view text) {
    auto points = codePoints(text);
    if (points.empty()) return std::string(text);
    std::size_t first = 0;
    while (first < points.size() && isWhitespaceOrNewline(points[first].second)) ++first;
    if (first == points.size()) return {};
    std::size_t last = points.size();
    while (last > first && isWhitespaceOrNewline(points[last - 1].second)) --last;
    const std::size_t from = points[first].first;
    const std::size_t to = last < points.size() ? points[last].first : text.size();
    return std::string(text.substr(from, to - from));
}

bool containsForbiddenNameCharacter(std::string_view name) {
    if (name.find_first_of("/\\:") != std::string_view::npos) return true;
    auto points = codePoints(name);
    if (points.empty()) return name.find_first_of("\n\v\f\r") != std::string_view::npos;
    for (const auto& point : points)
        if (isNewline(point.second)) return true;
    return false;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    if (!g_utf8_validate(a.data(), static_cast<gssize>(a.size()), nullptr) ||
        !g_utf8_validate(b.data(), static_cast<gssize>(b.size()), nullptr))
        return false;
    gchar* foldedA = g_utf8_casefold(a.data(), static_cast<gssize>(a.size()));
    gchar* foldedB = g_utf8_casefold(b.data(), static_cast<gssize>(b.size()));
    const bool equal = std::string_view(foldedA) == std::string_view(foldedB);
    g_free(foldedA);
    g_free(foldedB);
    return equal;
}

BridgeEvent fileError(const Uuid& projectId, const std::string& path, std::string message,
                      std::optional<std::string> code = std::nullopt) {
    return {kErrorEvent, FileErrorPayload{projectId, path, std::move(message), std::move(code)}.toJson()};
}

// Outcome of the size tests shared by the checks before and after reading.
std::optional<BridgeEvent> sizeAnswer(const Uuid& projectId, const std::string& path, std::int64_t size,
                                      bool allowLargeFile) {
    if (size > ProjectFileOperations::hardLimitBytes)
        return fileError(projectId, path,
                         ProjectFileOperations::tooLargeMessage(size, ProjectFileOperations::hardLimitBytes));
    if (size > ProjectFileOperations::softLimitBytes && !allowLargeFile)
        return BridgeEvent{kConfirmEvent, FileConfirmationPayload{projectId, path, size,
                                                                  ProjectFileOperations::softLimitBytes,
                                                                  ProjectFileOperations::hardLimitBytes}
                                              .toJson()};
    return std::nullopt;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Reads at most `limit` bytes; false on a read error.
bool readUpTo(int fd, std::size_t limit, std::string& bytes) {
    char buffer[1 << 16];
    while (bytes.size() < limit) {
        const std::size_t want = std::min(sizeof buffer, limit - bytes.size());
        const ssize_t count = read(fd, buffer, want);
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (count == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

}  // namespace

ProjectFileOperations::ProjectFileOperations(fs::path home, std::shared_ptr<FileSystemRenaming> renaming)
    : home_(std::move(home)), renaming_(std::move(renaming)) {}

ProjectFileOperations::ProjectFileOperations()
    : ProjectFileOperations(XdgFolders::process().home, std::make_shared<LinuxFileSystemRenaming>()) {}

std::optional<fs::path> ProjectFileOperations::projectRoot(const std::string& rootPath) const {
    const std::string expanded = expandTilde(rootPath, home_);
    if (expanded.empty()) return std::nullopt;
    struct stat info {};
    if (stat(expanded.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    return fs::path(absoluteRoot(expanded));
}

std::optional<std::string> ProjectFileOperations::sanitize(std::string_view relativePath) const {
    // A NUL would cut the path short at the system call: the page would be told of one file while
    // another was read, written or renamed.
    if (relativePath.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string expanded = expandTilde(std::string(relativePath), home_);
    const bool absolute = expanded.starts_with('/');
    std::string standardized;
    if (absolute) {
        standardized = normalizeAbsolute(expanded);
    } else {
        std::vector<std::string_view> parts;
        for (std::string_view part : components(expanded))
            if (part != ".") parts.push_back(part);
        standardized = joinComponents(parts, false);
    }
    if (standardized == ".." || standardized.starts_with("../")) return std::nullopt;
    const std::size_t firstKept = standardized.find_first_not_of('/');
    return firstKept == std::string::npos ? std::string() : standardized.substr(firstKept);
}

bool ProjectFileOperations::isInside(const fs::path& root, std::string_view sanitizedPath) {
    const std::string base = absoluteRoot(root);
    return isWithin(normalizeAbsolute(base + "/" + std::string(sanitizedPath)), base);
}

std::optional<std::string> ProjectFileOperations::imageMimeType(const fs::path& path) {
    std::string extension = path.extension().string();
    if (extension.empty()) return std::nullopt;
    extension.erase(0, 1);
    for (char& ch : extension)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    if (extension == "png") return "image/png";
    if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
    if (extension == "gif") return "image/gif";
    if (extension == "bmp") return "image/bmp";
    if (extension == "webp") return "image/webp";
    if (extension == "svg") return "image/svg+xml";
    if (extension == "ico") return "image/x-icon";
    return std::nullopt;
}

std::string ProjectFileOperations::tooLargeMessage(std::int64_t fileSize, std::int64_t maxBytes) {
    constexpr double kMegabyte = 1048576.0;
    const double size = static_cast<double>(fileSize) / kMegabyte;
    const double limit = static_cast<double>(maxBytes) / kMegabyte;
    // nearbyint rounds half to even in the default rounding mode.
    char sizeText[64];
    if (size < 100) {
        const auto tenths = static_cast<long long>(std::nearbyint(size * 10));
        if (tenths % 10 == 0)
            std::snprintf(sizeText, sizeof sizeText, "%lld", tenths / 10);
        else
            std::snprintf(sizeText, sizeof sizeText, "%lld.%lld", tenths / 10, tenths % 10);
    } else {
        std::snprintf(sizeText, sizeof sizeText, "%.0f", std::nearbyint(size));
    }
    char limitText[64];
    std::snprintf(limitText, sizeof limitText, "%.0f", std::nearbyint(limit));
    return std::string("このファイルは約 ") + sizeText + "MB あり、上限の " + limitText +
           "MB を超えているため開けません。サイズを削減するか、外部エディタをご利用ください。";
}

BridgeEvent ProjectFileOperations::readFile(const Uuid& projectId, const fs::path& root,
                                            const std::string& relativePath, bool allowLargeFile) const {
    auto fail = [&](ReadError error) { return fileError(projectId, relativePath, readErrorMessage(error)); };

    const auto sanitized = sanitize(relativePath);
    if (!sanitized || sanitized->empty() || !isInside(root, *sanitized)) return fail(ReadError::invalidPath);
    const std::string base = absoluteRoot(root);
    const std::string joined = normalizeAbsolute(base + "/" + *sanitized);

    struct stat info {};
    if (stat(joined.c_str(), &info) != 0) return fail(ReadError::notFound);
    // A link inside the project may point anywhere; what it points at must be inside too.
    const auto realRoot = realPath(base);
    const auto real = realPath(joined);
    if (!realRoot || !real) return fail(ReadError::notFound);
    if (!isWithin(*real, *realRoot)) return fail(ReadError::invalidPath);
    if (S_ISDIR(info.st_mode)) return fail(ReadError::directory);
    // Opening a FIFO or a device could block the file queue or have side effects.
    if (!S_ISREG(info.st_mode)) return fail(ReadError::unreadable);
    if (auto answer = sizeAnswer(projectId, relativePath, info.st_size, allowLargeFile)) return *answer;

    FileDescriptor fd(open(real->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
    if (fd.get() < 0) return fail(ReadError::unreadable);
    struct stat opened {};
    if (fstat(fd.get(), &opened) != 0) return fail(ReadError::unreadable);
    if (S_ISDIR(opened.st_mode)) return fail(ReadError::directory);
    if (!S_ISREG(opened.st_mode)) return fail(ReadError::unreadable);

    // One byte past the hard limit is enough to know a growing file is too large. Room for the whole
    // file up front keeps a large read at its own size instead of doubling its buffer as it grows.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(std::min(opened.st_size, static_cast<off_t>(hardLimitBytes))));
    if (!readUpTo(fd.get(), static_cast<std::size_t>(hardLimitBytes) + 1, bytes))
        return fail(ReadError::unreadable);
    auto bytesRead = static_cast<std::int64_t>(bytes.size());
    if (bytesRead > hardLimitBytes && fstat(fd.get(), &opened) == 0)
        bytesRead = std::max(bytesRead, opened.st_size);
    if (auto answer = sizeAnswer(projectId, relativePath, bytesRead, allowLargeFile)) return *answer;

    if (auto mimeType = imageMimeType(joined))
        return {kContentEvent,
                FileContentPayload{projectId, relativePath, base64::encode(std::string_view(bytes)), "base64",
                                   *mimeType}
                    .toJson()};
    std::string text = isValidUtf8(bytes) ? std::move(bytes) : latin1ToUtf8(bytes);
    return {kContentEvent, FileContentPayload{projectId, relativePath, std::move(text)}.toJson()};
}

BridgeEvent ProjectFileOperations::saveFile(const Uuid& projectId, const fs::path& root,
                                            const std::string& relativePath, std::string_view content) const {
    auto invalidPath = [&] { return fileError(projectId, relativePath, "保存パスが不正です"); };
    auto failed = [&](const std::string& description) {
        return fileError(projectId, relativePath, "保存に失敗しました: " + description);
    };

    const auto sanitized = sanitize(relativePath);
    if (!sanitized || sanitized->empty() || !isInside(root, *sanitized)) return invalidPath();
    const std::string base = absoluteRoot(root);
    const std::string joined = normalizeAbsolute(base + "/" + *sanitized);
    if (joined == base) return failed(errorText(EISDIR));

    int error = 0;
    const auto realRoot = realPath(base, error);
    if (!realRoot) return failed(errorText(error));
    const auto realFolder = realPath(parentOf(joined), error);
    if (!realFolder) return failed(errorText(error));
    if (!isWithin(*realFolder, *realRoot)) return invalidPath();

    std::string target = *realFolder + (realFolder->ends_with('/') ? "" : "/") + lastComponentOf(joined);
    struct stat link {};
    if (lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        // Write through the link to the file it names, which must be inside the project too. A
        // dangling link is replaced by the file, which then stays inside the project as well.
        if (auto linked = realPath(target)) {
            if (!isWithin(*linked, *realRoot) || *linked == *realRoot) return invalidPath();
            target = *linked;
        }
    }

    // Replacing a FIFO, socket or device node with a regular file would break whoever uses it; the
    // page cannot have read one either.
    struct stat existing {};
    if (stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode))
        return failed(errorText(EINVAL));

    AtomicWriteOptions options;
    options.createParents = false;
    if (auto writeError = writeFileAtomically(target, content, options)) return failed(writeError.message());
    return {kSavedEvent, FileSavedPayload{projectId, relativePath}.toJson()};
}

RenameOutcome ProjectFileOperations::renameItem(const Uuid& projectId, const fs::path& root,
                                                const std::string& fromPath,
                                                const std::string& toPath) const {
    auto failure = [&](const std::string& path, std::string message, const char* code) {
        RenameOutcome outcome;
        outcome.events.push_back(fileError(projectId, path, std::move(message), std::string(code)));
        return outcome;
    };

    const auto source = sanitize(fromPath);
    if (!source || source->empty())
        return failure(fromPath, "リネーム対象のパスが不正です", "rename_invalid_path");
    const std::string& from = *source;
    auto invalidSource = [&] { return failure(from, "リネーム対象のパスが不正です", "rename_invalid_path"); };
    auto invalidDestination = [&] {
        return failure(from, "移動先のパスが不正です", "rename_invalid_destination");
    };
    auto invalidName = [&](const char* message) { return failure(from, message, "rename_invalid_name"); };

    const auto destination = sanitize(toPath);
    if (!destination || destination->empty()) return invalidDestination();
    const std::string folder = folderPartOf(from);
    if (folderPartOf(*destination) != folder) return invalidDestination();

    const std::string name = trimWhitespaceAndNewlines(lastComponentOf(*destination));
    if (name.empty()) return invalidName("名前を入力してください");
    if (name == "." || name == "..") return invalidName("この名前は使用できません");
    if (containsForbiddenNameCharacter(name)) return invalidName("名前に使用できない文字が含まれています");

    const auto rebuilt = sanitize(folder.empty() ? name : folder + "/" + name);
    // A name such as "~" would otherwise be expanded into a path in another folder.
    if (!rebuilt || rebuilt->empty() || folderPartOf(*rebuilt) != folder) return invalidDestination();
    const std::string& to = *rebuilt;

    // Both items must stay inside the project and share one folder once ".." is resolved.
    const std::string base = absoluteRoot(root);
    const std::string sourceJoined = normalizeAbsolute(base + "/" + from);
    const std::string destinationJoined = normalizeAbsolute(base + "/" + to);
    if (sourceJoined == base || !isWithin(sourceJoined, base)) return invalidSource();
    if (destinationJoined == base || !isWithin(destinationJoined, base)) return invalidDestination();
    const std::string folderJoined = parentOf(sourceJoined);
    if (parentOf(destinationJoined) != folderJoined) return invalidDestination();

    auto notFound = [&] { return failure(from, "対象が見つかりません", "rename_not_found"); };
    const auto realRoot = realPath(base);
    const auto realFolder = realPath(folderJoined);
    if (!realRoot || !realFolder) return notFound();
    if (!isWithin(*realFolder, *realRoot)) return invalidSource();
    const std::string folderPrefix = *realFolder + (realFolder->ends_with('/') ? "" : "/");
    const std::string sourceItem = folderPrefix + lastComponentOf(sourceJoined);
    const std::string destinationItem = folderPrefix + lastComponentOf(destinationJoined);

    const auto sourceIdentity = renaming_->itemIdentity(sourceItem);
    if (!sourceIdentity) return notFound();
    struct stat info {};
    const bool isFolder = stat(sourceItem.c_str(), &info) == 0 && S_ISDIR(info.st_mode);

    auto success = [&] {
        RenameOutcome outcome;
        outcome.renamed = true;
        outcome.events.push_back(
            {kRenamedEvent, FileRenamedPayload{projectId, from, to, isFolder ? "folder" : "file"}.toJson()});
        std::string changedFolder = folderJoined == base ? std::string() : folderJoined.substr(base.size());
        if (changedFolder.starts_with('/')) changedFolder.erase(0, 1);
        outcome.events.push_back(
            {kExplorerChangedEvent,
             ExplorerChangedPayload{projectId.string(), {std::move(changedFolder)}, false}.toJson()});
        return outcome;
    };
    auto failedMove = [&](std::error_code error) {
        return failure(from, "リネームに失敗しました: " + error.message(), "rename_failed");
    };

    if (to == from) return success();

    const auto destinationIdentity = renaming_->itemIdentity(destinationItem);
    // On a case-insensitive volume both names reach the same item; moving straight onto it would
    // be refused as a conflict, so the item passes through a temporary name.
    const bool caseOnly =
        equalIgnoringCase(to, from) && destinationIdentity && *destinationIdentity == *sourceIdentity;
    if (destinationIdentity && !caseOnly)
        return failure(from, "同名の項目が既に存在します", "rename_conflict");

    if (caseOnly) {
        const std::string temporaryItem = folderPrefix + name + ".rename-" + Uuid::random().string();
        if (auto error = renaming_->moveItemNoReplace(sourceItem, temporaryItem)) return failedMove(error);
        if (auto error = renaming_->moveItemNoReplace(temporaryItem, destinationItem)) {
            renaming_->moveItemNoReplace(temporaryItem, sourceItem);
            return failedMove(error);
        }
        return success();
    }
    if (auto error = renaming_->moveItemNoReplace(sourceItem, destinationItem)) return failedMove(error);
    return success();
}

BridgeEvent ProjectFileOperations::readProjectMissing(const Uuid& projectId, const std::string& path) {
    return fileError(projectId, path, kRootMissingMessage);
}

BridgeEvent ProjectFileOperations::saveProjectMissing(const Uuid& projectId, const std::string& path) {
    return fileError(projectId, path, kRootMissingMessage);
}

BridgeEvent ProjectFileOperations::renameProjectMissing(const Uuid& projectId, const std::string& path) {
    return fileError(projectId, path, kRootMissingMessage, "rename_invalid_project");
}

}  // namespace pelko
