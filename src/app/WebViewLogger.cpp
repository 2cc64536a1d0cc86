#include "app/WebViewLogger.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

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

// The page's text on one line of the file, so that no text can start a line of its own: the
// backslash, the control characters (U+0000-U+001F, U+007F-U+009F) and the line and paragraph
// separators (U+2028, U+2029) become escapes ("\\", "\n", "\r", "\t", else "\u" and four
// lower-case hex digits). In JSON text (`alreadyJson`) a backslash already starts an escape; the
// characters JSON leaves as they are get the escapes JSON would give them, so the text stays JSON.
std::string oneLine(std::string_view text, bool alreadyJson) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string result;
    result.reserve(text.size());
    auto escape = [&](unsigned codePoint) {
        result += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) result += hex[(codePoint >> shift) & 0xF];
    };
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0u;
        const auto third = at + 2 < text.size() ? static_cast<unsigned char>(text[at + 2]) : 0u;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080-U+009F
            escape(next);
            ++at;
        } else if (byte == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)) {  // U+2028, U+2029
            escape(0x2000u + third - 0x80u);
            at += 2;
        } else if (byte == 0x7F) {
            escape(byte);
        } else if (byte >= 0x20 && (byte != '\\' || alreadyJson)) {
            result += text[at];
        } else if (byte == '\\') {
            result += "\\\\";
        } else if (byte == '\n') {
            result += "\\n";
        } else if (byte == '\r') {
            result += "\\r";
        } else if (byte == '\t') {
            result += "\\t";
        } else {
            escape(byte);
        }
    }
    return result;
}

// Compact JSON for an object, array, number, Boolean or null; a text escaped as one line. A payload nested
// deeper than json::maxValueDepth is cut to a note: dumping is recursive.
std::string describe(const Json& value) {
    if (value.is_string()) return oneLine(value.get_ref<const std::string&>(), false);
    if (json::nestsDeeperThan(value, json::maxValueDepth)) {
        return "<value nested deeper than " + std::to_string(json::maxValueDepth) + " levels>";
    }
    return oneLine(value.dump(-1, ' ', false, Json::error_handler_t::replace), true);
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
    std::string line = "[" + oneLine(json::stringField(&body, "source").value_or("web"), false) + "] [" +
                       oneLine(json::stringField(&body, "level").value_or("info"), false) + "]";
    auto message = json::stringField(&body, "message");
    if (message && !message->empty()) {
        line += " " + oneLine(*message, false);
    } else if (const Json* payload = json::presentField(&body, "payload")) {
        line += " " + describe(*payload);
    }
    return line;
}

}  // namespace pelko
