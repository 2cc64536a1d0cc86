#include "bridge/ProjectFileOperations.hpp"

#include <fcntl.h>
#include <glib.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

#include "bridge/BridgePayloads.hpp"
#include "bridge/FilePayloads.hpp"
#include "bridge/LinuxFileSystemRenaming.hpp"
#include "config/ProjectMetadata.hpp"
#include "platform/AtomicFile.hpp"
#include "platform/Base64.hpp"
#include "platform/ProjectDirectory.hpp"
#include "platform/ProjectPath.hpp"

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

}  // namespace

ProjectFileOperations::ProjectFileOperations(std::shared_ptr<FileSystemRenaming> renaming)
    : renaming_(std::move(renaming)) {}

ProjectFileOperations::ProjectFileOperations()
    : ProjectFileOperations(std::make_shared<LinuxFileSystemRenaming>()) {}

std::optional<fs::path> ProjectFileOperations::projectRoot(const std::string& rootPath) const {
    fs::path root = ProjectMetadata::resolveRootFolder(rootPath);
    struct stat info {};
    if (root.empty() || stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    return root;
}

std::optional<std::string> ProjectFileOperations::sanitize(std::string_view relativePath) {
    return ProjectPath::normalize(relativePath);
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

    const auto relative = sanitize(relativePath);
    if (!relative || ProjectPath::namesNoItem(relativePath)) return fail(ReadError::invalidPath);
    const auto directory = ProjectDirectory::open(root);
    if (!directory) return fail(ReadError::notFound);

    // The item is opened by name in the folder the walk yielded; when it was swapped for a link since
    // the walk looked at it, O_NOFOLLOW refuses it and the walk runs again.
    UniqueFd fd;
    struct stat opened {};
    for (int attempt = 0; !fd.valid(); ++attempt) {
        ResolveError error;
        const auto entry = directory->resolve(*relative, ProjectDirectory::FinalLink::follow, error);
        if (!entry)
            return fail(error.code == ResolveError::Code::outside ? ReadError::invalidPath
                                                                  : ReadError::notFound);
        if (!entry->status) return fail(ReadError::notFound);
        if (S_ISDIR(entry->status->st_mode)) return fail(ReadError::directory);
        // Opening a FIFO or a device could block the file queue or have side effects.
        if (!S_ISREG(entry->status->st_mode)) return fail(ReadError::unreadable);
        if (auto answer = sizeAnswer(projectId, relativePath, entry->status->st_size, allowLargeFile))
            return *answer;
        fd = ProjectDirectory::openItem(*entry, O_RDONLY | O_NONBLOCK | O_NOCTTY);
        if (!fd.valid() && (errno != ELOOP || attempt == 8)) return fail(ReadError::unreadable);
    }
    if (fstat(fd.get(), &opened) != 0) return fail(ReadError::unreadable);
    if (S_ISDIR(opened.st_mode)) return fail(ReadError::directory);
    if (!S_ISREG(opened.st_mode)) return fail(ReadError::unreadable);

    // One byte past the hard limit is enough to know a growing file is too large. Room for the whole
    // file up front keeps a large read at its own size instead of doubling its buffer as it grows.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(std::min(opened.st_size, static_cast<off_t>(hardLimitBytes))));
    if (!ProjectDirectory::readUpTo(fd.get(), static_cast<std::size_t>(hardLimitBytes) + 1, bytes))
        return fail(ReadError::unreadable);
    auto bytesRead = static_cast<std::int64_t>(bytes.size());
    if (bytesRead > hardLimitBytes && fstat(fd.get(), &opened) == 0)
        bytesRead = std::max(bytesRead, opened.st_size);
    if (auto answer = sizeAnswer(projectId, relativePath, bytesRead, allowLargeFile)) return *answer;

    if (auto mimeType = imageMimeType(*relative))
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
    auto failed = [&](int error) {
        return fileError(projectId, relativePath, "保存に失敗しました: " + errorText(error));
    };

    const auto relative = sanitize(relativePath);
    if (!relative || ProjectPath::namesNoItem(relativePath)) return invalidPath();
    int openError = 0;
    const auto directory = ProjectDirectory::open(root, &openError);
    if (!directory) return failed(openError);

    // A link as the last component is written through to the file it names inside the project (or
    // creates that file when it dangles inside); one leading out refuses the save.
    ResolveError error;
    const auto entry = directory->resolve(*relative, ProjectDirectory::FinalLink::follow, error);
    if (!entry) {
        if (error.code == ResolveError::Code::outside) return invalidPath();
        return failed(error.systemError ? error.systemError : ENOENT);
    }
    if (entry->name == ".") return failed(EISDIR);
    // Replacing a FIFO, socket or device node with a regular file would break whoever uses it; the
    // page cannot have read one either.
    if (entry->status && !S_ISREG(entry->status->st_mode) && !S_ISDIR(entry->status->st_mode))
        return failed(EINVAL);
    // Renaming over the file needs only the folder's permission; the file's own is what a plain write
    // meets. The kernel answers for it as it would for an open for writing (mode, ACLs, read-only
    // mounts, immutable files), without opening the file.
    if (entry->status && S_ISREG(entry->status->st_mode) &&
        faccessat(entry->folder.get(), entry->name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 &&
        errno != ENOENT)
        return failed(errno);

    // The temporary file is created in the folder the walk yielded, so it stays inside too.
    AtomicWriteOptions options;
    options.createParents = false;
    if (auto writeError = writeFileAtomicallyAt(entry->folder.get(), entry->name, content, options))
        return failed(writeError.value());
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
    if (!destination || ProjectPath::namesNoItem(toPath)) return invalidDestination();
    // The new name is the last component as the page sent it ("docs/.." names "..", refused as a
    // name below); its folder must be the source's once normalised.
    std::string_view sentTo = toPath;
    while (sentTo.ends_with('/')) sentTo.remove_suffix(1);
    const std::string folder(ProjectPath::folderOf(from));
    const auto destinationFolder = sanitize(ProjectPath::folderOf(sentTo));
    if (!destinationFolder || *destinationFolder != folder) return invalidDestination();

    const std::string name = trimWhitespaceAndNewlines(ProjectPath::nameOf(sentTo));
    if (name.empty()) return invalidName("名前を入力してください");
    if (name == "." || name == "..") return invalidName("この名前は使用できません");
    if (containsForbiddenNameCharacter(name)) return invalidName("名前に使用できない文字が含まれています");

    const auto rebuilt = sanitize(ProjectPath::join(folder, name));
    // A name such as "~" is refused rather than taken for the home folder.
    if (!rebuilt || rebuilt->empty() || ProjectPath::folderOf(*rebuilt) != folder)
        return invalidDestination();
    const std::string& to = *rebuilt;

    auto notFound = [&] { return failure(from, "対象が見つかりません", "rename_not_found"); };
    const auto directory = ProjectDirectory::open(root);
    if (!directory) return notFound();
    // The folder is walked once; both names are then used inside the folder descriptor it yields.
    ResolveError error;
    const auto entry = directory->resolve(from, ProjectDirectory::FinalLink::keep, error);
    if (!entry) return error.code == ResolveError::Code::outside ? invalidSource() : notFound();
    const int folderFd = entry->folder.get();
    const std::string sourceName(ProjectPath::nameOf(from));
    const std::string destinationName(ProjectPath::nameOf(to));

    const auto sourceIdentity = renaming_->itemIdentity(folderFd, sourceName);
    if (!sourceIdentity) return notFound();
    // A link to a folder inside reports "folder"; what a link leading out points at is never looked at.
    ResolveError ignored;
    const auto target = directory->resolve(from, ProjectDirectory::FinalLink::follow, ignored);
    const bool isFolder = target && target->status && S_ISDIR(target->status->st_mode);

    auto success = [&] {
        RenameOutcome outcome;
        outcome.renamed = true;
        outcome.events.push_back(
            {kRenamedEvent, FileRenamedPayload{projectId, from, to, isFolder ? "folder" : "file"}.toJson()});
        outcome.events.push_back(
            {kExplorerChangedEvent, ExplorerChangedPayload{projectId.string(), {folder}, false}.toJson()});
        return outcome;
    };
    auto failedMove = [&](std::error_code error) {
        return failure(from, "リネームに失敗しました: " + error.message(), "rename_failed");
    };

    if (to == from) return success();

    const auto destinationIdentity = renaming_->itemIdentity(folderFd, destinationName);
    // On a case-insensitive volume both names reach the same item; moving straight onto it would
    // be refused as a conflict, so the item passes through a temporary name.
    const bool caseOnly =
        equalIgnoringCase(to, from) && destinationIdentity && *destinationIdentity == *sourceIdentity;
    if (destinationIdentity && !caseOnly)
        return failure(from, "同名の項目が既に存在します", "rename_conflict");

    if (caseOnly) {
        // Cut short when needed so that the temporary name fits NAME_MAX whatever the new name.
        const std::string suffix = ".rename-" + Uuid::random().string();
        const std::string temporaryName = destinationName.substr(0, NAME_MAX - suffix.size()) + suffix;
        if (auto error = renaming_->moveItemNoReplace(folderFd, sourceName, temporaryName))
            return failedMove(error);
        if (auto error = renaming_->moveItemNoReplace(folderFd, temporaryName, destinationName)) {
            renaming_->moveItemNoReplace(folderFd, temporaryName, sourceName);
            return failedMove(error);
        }
        return success();
    }
    if (auto error = renaming_->moveItemNoReplace(folderFd, sourceName, destinationName))
        return failedMove(error);
    return success();
}

BridgeEvent ProjectFileOperations::readTooLargeToSend(const Uuid& projectId, const std::string& path) {
    return fileError(projectId, path,
                     "このファイルは制御文字を多く含み、表示用のデータが上限を超えるため開けません。"
                     "外部エディタをご利用ください。");
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
