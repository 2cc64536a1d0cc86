#include "terminal/TerminalLogger.hpp"

#include <sys/stat.h>

#include "platform/Base64.hpp"
#include "platform/Date.hpp"
#include "platform/Json.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/XdgFolders.hpp"
#include "terminal/PrivateFiles.hpp"

namespace pelko {

namespace fs = std::filesystem;

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

TerminalLogger::~TerminalLogger() = default;

void TerminalLogger::record(TerminalLogEvent event) {
    // `this` outlives the queue's work: destroying the queue first runs what is left.
    queue_->async([this, event = std::move(event)] { write(event); });
}

void TerminalLogger::flush() { queue_->barrier(); }

void TerminalLogger::write(const TerminalLogEvent& event) const {
    std::string line;
    try {
        Json object = Json::object();
        object["ts"] = Date::now().isoMilliseconds();
        object["session"] = event.sessionID.string();
        object["event"] = TerminalLogEvent::text(event.event);
        if (event.chunk) object["chunkBase64"] = base64::encode(std::span<const std::uint8_t>(*event.chunk));
        if (event.message) object["message"] = *event.message;
        if (event.metadata) {
            Json metadata = Json::object();
            for (const auto& [key, value] : *event.metadata) metadata[key] = value;
            object["metadata"] = std::move(metadata);
        }
        line = json::encode(object);
    } catch (const std::exception&) {
        return;
    }
    line.push_back('\n');

    struct stat info {};
    if (stat(fileURL_.c_str(), &info) == 0 && static_cast<std::uint64_t>(info.st_size) > maxFileSize_) {
        std::error_code error;
        fs::path backup = fileURL_;
        backup += ".1";
        fs::remove(backup, error);
        fs::rename(fileURL_, backup, error);
    }
    privatefiles::append(fileURL_, line);
}

}  // namespace pelko
