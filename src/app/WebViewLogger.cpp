#include "app/WebViewLogger.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/LogLineText.hpp"
#include "platform/SystemLogger.hpp"

namespace fs = std::filesystem;

namespace pelko {
namespace {

std::error_code appendRecord(const fs::path& file, const std::string& record) {
    std::error_code ec;
    const fs::path folder = file.parent_path();
    if (!folder.empty() && !fs::exists(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) return ec;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return {errno, std::generic_category()};
    const char* data = record.data();
    size_t left = record.size();
    std::error_code result;
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            result = {errno, std::generic_category()};
            break;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    if (::close(fd) != 0 && !result) result = {errno, std::generic_category()};
    return result;
}

// Compact JSON for an object, array, number, Boolean or null; a text escaped as one line. A payload nested
// deeper than json::maxValueDepth is cut to a note: dumping is recursive.
std::string describe(const Json& value) {
    if (value.is_string()) return LogLineText::escaped(value.get_ref<const std::string&>());
    if (json::nestsDeeperThan(value, json::maxValueDepth)) {
        return "<value nested deeper than " + std::to_string(json::maxValueDepth) + " levels>";
    }
    return LogLineText::escapedJson(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

}  // namespace

WebViewLogger::WebViewLogger(fs::path file, Clock clock) : file_(std::move(file)), clock_(std::move(clock)) {}

fs::path WebViewLogger::defaultLocation(const XdgFolders& folders) {
    const fs::path& folder = folders.cacheHome.empty() ? folders.tempDir : folders.cacheHome;
    return folder / fileName;
}

WebViewLogger& WebViewLogger::shared() {
    static WebViewLogger logger(defaultLocation(XdgFolders::process()));
    return logger;
}

void WebViewLogger::log(const std::string& line) const {
    std::string record = "[" + clock_().isoMilliseconds() + "] " + line + "\n";
    if (auto error = appendRecord(file_, record)) {
        static const SystemLogger logger("app.pelko.webview", "log");
        logger.error("[WebViewLogger] Failed to write log: " + error.message());
    }
}

std::optional<std::string> WebViewLogger::lineForMessage(const Json& body) {
    if (json::stringField(&body, "type") != "webview/log") return std::nullopt;
    std::string line = "[" + LogLineText::escaped(json::stringField(&body, "source").value_or("web")) +
                       "] [" + LogLineText::escaped(json::stringField(&body, "level").value_or("info")) + "]";
    auto message = json::stringField(&body, "message");
    if (message && !message->empty()) {
        line += " " + LogLineText::escaped(*message);
    } else if (const Json* payload = json::presentField(&body, "payload")) {
        line += " " + describe(*payload);
    }
    return line;
}

}  // namespace pelko
