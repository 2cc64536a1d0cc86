#include "terminal/TerminalDebugDumpStore.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string>

#include "platform/Base64.hpp"
#include "platform/Json.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/XdgFolders.hpp"
#include "terminal/PrivateFiles.hpp"

namespace pelko {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t previewLength = 120;

bool isValidUtf8(std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::uint8_t lead = bytes[i];
        std::size_t length;
        std::uint32_t minimum;
        std::uint32_t codePoint;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, minimum = 0x80, codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, minimum = 0x800, codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, minimum = 0x10000, codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > bytes.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
        }
        if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::optional<std::string> preview(std::span<const std::uint8_t> chunk) {
    auto head = chunk.subspan(0, std::min(chunk.size(), previewLength));
    if (!isValidUtf8(head)) return std::nullopt;
    return std::string(head.begin(), head.end());
}

}  // namespace

TerminalDebugDumpStore::TerminalDebugDumpStore(const fs::path& directory, TerminalDebugDumpPolicy policy,
                                               Clock clock)
    : directory_(directory.lexically_normal()),
      policy_(policy),
      clock_(std::move(clock)),
      queue_(std::make_shared<SerialQueue>("app.pelko.terminal.debugdump.store")) {
    if (!directory_.empty() && !directory_.has_filename()) directory_ = directory_.parent_path();
}

std::shared_ptr<TerminalDebugDumpStore> TerminalDebugDumpStore::makeDefault() {
    const auto& folders = XdgFolders::process();
    if (folders.cacheHome.empty()) return nullptr;
    return std::make_shared<TerminalDebugDumpStore>(folders.appCache() / "terminal-dumps");
}

TerminalDebugDumpStore::~TerminalDebugDumpStore() = default;

void TerminalDebugDumpStore::performStartupMaintenance() {
    queue_->sync([this] { maintainLocked(false); });
}

bool TerminalDebugDumpStore::prepareForWriting() {
    bool usable = false;
    queue_->sync([this, &usable] { usable = maintainLocked(true); });
    return usable;
}

void TerminalDebugDumpStore::record(const Uuid& sessionID, std::span<const std::uint8_t> raw,
                                    std::span<const std::uint8_t> normalized) {
    std::weak_ptr<TerminalDebugDumpStore> weak = weak_from_this();
    queue_->async([weak, sessionID, raw = std::vector<std::uint8_t>(raw.begin(), raw.end()),
                   normalized = std::vector<std::uint8_t>(normalized.begin(), normalized.end())] {
        if (auto store = weak.lock()) store->writeLocked(sessionID, raw, normalized);
    });
}

void TerminalDebugDumpStore::flush() {
    queue_->barrier();
}

std::optional<int> TerminalDebugDumpStore::generation(const fs::path& file) {
    std::string stem = file.stem().string();
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= stem.size()) {
        std::size_t dot = stem.find('.', start);
        if (dot == std::string::npos) dot = stem.size();
        if (dot > start) pieces.push_back(stem.substr(start, dot - start));
        start = dot + 1;
    }
    if (pieces.size() == 1 && Uuid::parse(pieces[0])) return 0;
    if (pieces.size() == 2 && Uuid::parse(pieces[0])) {
        int value = 0;
        const std::string& digits = pieces[1];
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc() && end == digits.data() + digits.size()) return value;
    }
    return std::nullopt;
}

fs::path TerminalDebugDumpStore::fileFor(const Uuid& sessionID, int generation) const {
    if (generation == 0) return directory_ / (sessionID.string() + ".jsonl");
    return directory_ / (sessionID.string() + "." + std::to_string(generation) + ".jsonl");
}

bool TerminalDebugDumpStore::validateDirectoryLocked(bool createIfNeeded) {
    // One lstat, as this runs before every write: a link is refused even when it leads to a folder,
    // and only a missing folder is created.
    struct stat info {};
    if (lstat(directory_.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    if (!createIfNeeded || !privatefiles::ensureFolder(directory_)) return false;
    totalSizeBytes_ = 0;
    return true;
}

bool TerminalDebugDumpStore::maintainLocked(bool createIfNeeded) {
    if (!validateDirectoryLocked(createIfNeeded)) {
        isPrepared_ = false;
        return false;
    }
    isPrepared_ = true;
    cleanLocked();
    return true;
}

void TerminalDebugDumpStore::cleanLocked() {
    // One listing serves every rule and the recount: a file that cannot be removed still counts.
    auto limit = clock_().milliseconds() - static_cast<std::int64_t>(policy_.retentionInterval * 1000);
    totalSizeBytes_ = 0;
    for (const auto& file : dumpFilesLocked()) {
        auto number = generation(file.url);
        bool unwanted = file.size > policy_.maxFileSizeBytes || file.modifiedAt.milliseconds() < limit ||
                        (number && *number >= policy_.maxFilesPerSession);
        std::error_code error;
        if (unwanted && (fs::remove(file.url, error) || !error)) continue;
        totalSizeBytes_ += file.size;
    }
    if (totalSizeBytes_ > policy_.maxDirectorySizeBytes) pruneDirectoryLocked(0, std::nullopt);
}

void TerminalDebugDumpStore::recountLocked() {
    totalSizeBytes_ = 0;
    for (const auto& file : dumpFilesLocked()) totalSizeBytes_ += file.size;
}

std::vector<TerminalDebugDumpStore::DumpFile> TerminalDebugDumpStore::dumpFilesLocked() const {
    std::vector<DumpFile> files;
    std::error_code error;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        std::string name = path.filename().string();
        if (name.empty() || name[0] == '.' || path.extension() != ".jsonl") continue;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        DumpFile file;
        file.url = path;
        file.size = static_cast<std::uint64_t>(info.st_size);
        file.modifiedAt = Date::fromMilliseconds(static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 +
                                                 info.st_mtim.tv_nsec / 1000000);
        files.push_back(std::move(file));
    }
    return files;
}

std::uint64_t TerminalDebugDumpStore::sizeOfFileLocked(const fs::path& file) const {
    struct stat info {};
    if (stat(file.c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

void TerminalDebugDumpStore::removeFileLocked(const fs::path& file) {
    std::error_code error;
    if (!fs::exists(file, error)) return;
    std::uint64_t size = sizeOfFileLocked(file);
    if (fs::remove(file, error)) {
        totalSizeBytes_ = totalSizeBytes_ > size ? totalSizeBytes_ - size : 0;
    } else {
        recountLocked();
    }
}

void TerminalDebugDumpStore::pruneDirectoryLocked(std::uint64_t reserving,
                                                  const std::optional<fs::path>& excluding) {
    auto files = dumpFilesLocked();
    std::sort(files.begin(), files.end(), [](const DumpFile& a, const DumpFile& b) {
        if (a.modifiedAt != b.modifiedAt) return a.modifiedAt < b.modifiedAt;
        return a.url.filename().string() < b.url.filename().string();
    });
    for (const auto& file : files) {
        if (totalSizeBytes_ + reserving <= policy_.maxDirectorySizeBytes) break;
        if (excluding && file.url == *excluding) continue;
        removeFileLocked(file.url);
    }
}

void TerminalDebugDumpStore::rotateLocked(const Uuid& sessionID) {
    removeFileLocked(fileFor(sessionID, 2));
    for (int target = 2; target >= 1; --target) {
        fs::path below = fileFor(sessionID, target - 1);
        std::error_code error;
        if (!fs::exists(below, error)) continue;
        fs::path destination = fileFor(sessionID, target);
        fs::remove(destination, error);
        fs::rename(below, destination, error);
        if (error) recountLocked();
    }
    fs::path current = fileFor(sessionID, 0);
    int fd = open(current.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
}

void TerminalDebugDumpStore::writeLocked(const Uuid& sessionID, const std::vector<std::uint8_t>& raw,
                                         const std::vector<std::uint8_t>& normalized) {
    if (!isPrepared_ || !validateDirectoryLocked(false)) {
        if (!maintainLocked(true)) return;
    }
    std::int64_t sequence = sequenceBySession_[sessionID]++;

    std::string line;
    try {
        Json object = Json::object();
        object["ts"] = clock_().isoMilliseconds();
        object["sequence"] = sequence;
        object["rawBase64"] = base64::encode(std::span<const std::uint8_t>(raw));
        object["normalizedBase64"] = base64::encode(std::span<const std::uint8_t>(normalized));
        object["rawCount"] = raw.size();
        object["normalizedCount"] = normalized.size();
        if (auto text = preview(raw)) object["rawPreviewUTF8"] = *text;
        if (auto text = preview(normalized)) object["normalizedPreviewUTF8"] = *text;
        line = json::encode(object);
    } catch (const std::exception&) {
        return;
    }
    line.push_back('\n');
    std::uint64_t length = line.size();
    if (length > policy_.maxFileSizeBytes) return;

    fs::path target = fileFor(sessionID, 0);
    if (sizeOfFileLocked(target) + length > policy_.maxFileSizeBytes) {
        cleanLocked();
        rotateLocked(sessionID);
    }
    if (totalSizeBytes_ + length > policy_.maxDirectorySizeBytes) pruneDirectoryLocked(length, target);
    if (totalSizeBytes_ + length > policy_.maxDirectorySizeBytes) return;
    if (privatefiles::append(target, line)) totalSizeBytes_ += length;
}

}  // namespace pelko
