#include "terminal/TerminalLogger.hpp"

#include <sys/stat.h>

#include "platform/Base64.hpp"
#include "platform/Date.hpp"
#include "platform/Json.hpp"
#include "platform/MainQueue.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/XdgFolders.hpp"
#include "terminal/PrivateFiles.hpp"

namespace pelko {

namespace fs = std::filesystem;

namespace {
constexpr auto batchDelay = std::chrono::milliseconds(20);
}  // namespace

fs::path TerminalLogger::defaultLocation() {
    const auto& folders = XdgFolders::process();
    fs::path base = folders.cacheHome.empty() ? folders.tempDir / "pelko" : folders.appCache();
    return base / "pelko-terminal.log";
}

TerminalLogger::TerminalLogger(std::optional<fs::path> fileURL, std::uint64_t maxFileSize)
    : maxFileSize_(maxFileSize), queue_(std::make_shared<SerialQueue>("app.pelko.terminal.logger")) {
    if (fileURL) {
        fileURL_ = *fileURL;
    } else {
        fileURL_ = defaultLocation();
        privatefiles::ensureFolder(fileURL_.parent_path());
    }
}

TerminalLogger::~TerminalLogger() {
    flush();
}

void TerminalLogger::record(TerminalLogEvent event) {
    bool schedule;
    {
        std::size_t size = event.chunk ? event.chunk->size() : 0;
        std::unique_lock lock(pendingMutex_);
        if (size > 0 && !MainQueue::isMainThread())
            written_.wait(lock, [this] { return pendingChunkBytes_ < maxPendingChunkBytes; });
        schedule = pending_.empty();
        pending_.push_back(std::move(event));
        pendingChunkBytes_ += size;
    }
    // Lines gather for a moment, so a streaming session wakes the queue once per batch, not per chunk.
    // `this` outlives the queue's work: the destructor writes what is left before the queue goes.
    if (schedule) queue_->asyncAfter(batchDelay, [this] { writePending(); });
}

void TerminalLogger::flush() {
    queue_->sync([this] { writePending(); });
}

std::size_t TerminalLogger::pendingChunkBytes() const {
    std::lock_guard lock(pendingMutex_);
    return pendingChunkBytes_;
}

void TerminalLogger::writePending() {
    std::vector<TerminalLogEvent> events;
    {
        std::lock_guard lock(pendingMutex_);
        events.swap(pending_);
    }
    std::size_t batchBytes = 0;
    for (const auto& event : events) batchBytes += event.chunk ? event.chunk->size() : 0;
    // One open file per batch; the size is tracked so each line still sees the rotation test first.
    int fd = -1;
    std::optional<std::uint64_t> size;
    for (const auto& event : events) {
        auto line = formatLine(event);
        if (!line) continue;
        if (!size) {
            struct stat info {};
            if (stat(fileURL_.c_str(), &info) == 0) size = static_cast<std::uint64_t>(info.st_size);
        }
        if (size && *size > maxFileSize_) {
            if (fd >= 0) close(fd);
            fd = -1;
            std::error_code error;
            fs::path backup = fileURL_;
            backup += ".1";
            fs::remove(backup, error);
            fs::rename(fileURL_, backup, error);
            size.reset();
        }
        if (fd < 0) fd = privatefiles::openForAppend(fileURL_);
        if (fd < 0) continue;
        if (privatefiles::writeAll(fd, *line)) size = size.value_or(0) + line->size();
    }
    if (fd >= 0) close(fd);
    {
        std::lock_guard lock(pendingMutex_);
        pendingChunkBytes_ -= batchBytes;
    }
    written_.notify_all();
}

std::optional<std::string> TerminalLogger::formatLine(const TerminalLogEvent& event) {
    // The time, the UUID and the event name hold nothing JSON escapes, so the head is written as is.
    std::string line = "{\"ts\":\"" + Date::now().isoMilliseconds() + "\",\"session\":\"" +
                       event.sessionID.string() + "\",\"event\":\"" + TerminalLogEvent::text(event.event) +
                       "\"";
    if (event.chunk) {
        // Base64 needs no JSON escaping except the slash, written "\/" like every slash here.
        std::string encoded = base64::encode(std::span<const std::uint8_t>(*event.chunk));
        line.reserve(line.size() + encoded.size() + encoded.size() / 32 + 24);
        line += ",\"chunkBase64\":\"";
        std::size_t start = 0;
        for (std::size_t slash; (slash = encoded.find('/', start)) != std::string::npos; start = slash + 1) {
            line.append(encoded, start, slash - start);
            line += "\\/";
        }
        line.append(encoded, start, std::string::npos);
        line.push_back('"');
    }
    if (event.message || event.metadata) {
        try {
            Json tail = Json::object();
            if (event.message) tail["message"] = *event.message;
            if (event.metadata) {
                Json metadata = Json::object();
                for (const auto& [key, value] : *event.metadata) metadata[key] = value;
                tail["metadata"] = std::move(metadata);
            }
            std::string rest = json::encode(tail);
            line.push_back(',');
            line.append(rest, 1, std::string::npos);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    } else {
        line.push_back('}');
    }
    line.push_back('\n');
    return line;
}

}  // namespace pelko
