#pragma once
// WebViewLogger: the page's own diagnostic log, "pelko-webview.log" directly in the user's cache
// folder (the temporary folder when there is none). One record per call: "[" + UTC time with
// milliseconds + "] " + line + "\n", appended; no rotation, no buffering, the file is opened and
// closed on every call. The log may hold text the user typed, so a new file is created 0600 and a
// missing cache folder 0700.
//
// Called on the main thread (the web host's message callback). A failed write goes to the system log
// and is never reported to the caller or the page; the next call tries again.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/Date.hpp"
#include "platform/Json.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

class WebViewLogger {
  public:
    static constexpr const char* fileName = "pelko-webview.log";

    using Clock = std::function<Date()>;
    explicit WebViewLogger(std::filesystem::path file, Clock clock = Date::now);

    // The process's logger at defaultLocation(XdgFolders::process()).
    static WebViewLogger& shared();
    static std::filesystem::path defaultLocation(const XdgFolders& folders);

    void log(const std::string& line) const;
    const std::filesystem::path& file() const { return file_; }

    // The line for a "webview/log" message body: "[source] [level]" and, when present, the message
    // text or the payload (a text, else compact JSON). Nothing for any other body. The page's text
    // never breaks the line: backslashes, control characters and U+2028/U+2029 are escaped ("\\",
    // "\n", "\r", "\t", "\u001b", "\u2028"), so one message is one record.
    static std::optional<std::string> lineForMessage(const Json& body);

  private:
    std::filesystem::path file_;
    Clock clock_;
};

}  // namespace pelko
