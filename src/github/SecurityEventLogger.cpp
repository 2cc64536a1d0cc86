#include "github/SecurityEventLogger.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Date.hpp"
#include "platform/Json.hpp"
#include "platform/SerialQueue.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {
namespace {

bool appendLine(const std::filesystem::path& file, const std::string& line) {
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    size_t written = 0;
    bool ok = true;
    while (written < line.size()) {
        ssize_t n = ::write(fd, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        written += static_cast<size_t>(n);
    }
    return ::close(fd) == 0 && ok;
}

}  // namespace

std::filesystem::path SecurityEventLogger::defaultLocation() {
    const auto& folders = XdgFolders::process();
    auto base = folders.cacheHome.empty() ? folders.tempDir : folders.cacheHome;
    return base / "pelko" / "security-events.log";
}

const char* SecurityEventLogger::actionName(SecurityEventAction action) {
    switch (action) {
        case SecurityEventAction::oauthStart:
            return "oauthStart";
        case SecurityEventAction::oauthSuccess:
            return "oauthSuccess";
        case SecurityEventAction::oauthFailure:
            return "oauthFailure";
        case SecurityEventAction::oauthLogout:
            return "oauthLogout";
        case SecurityEventAction::oauthRefreshSuccess:
            return "oauthRefreshSuccess";
        case SecurityEventAction::oauthRefreshFailure:
            return "oauthRefreshFailure";
        case SecurityEventAction::oauthTokenInvalid:
            return "oauthTokenInvalid";
    }
    return "oauthStart";
}

SecurityEventLogger::SecurityEventLogger(std::optional<std::filesystem::path> fileURL)
    : queue_(std::make_shared<SerialQueue>("app.pelko.security-events.logger")) {
    if (fileURL) {
        fileURL_ = std::move(*fileURL);
        return;
    }
    fileURL_ = defaultLocation();
    std::error_code error;
    auto folder = fileURL_.parent_path();
    if (std::filesystem::create_directories(folder, error))
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
}

SecurityEventLogger::~SecurityEventLogger() = default;

void SecurityEventLogger::log(SecurityEventAction action, const std::optional<std::string>& login,
                              const std::optional<Metadata>& metadata) {
    Date now = Date::now();
    queue_->async([file = fileURL_, action, login, metadata, now] {
        Json entry = Json::object();
        entry["timestamp"] = now.isoMilliseconds();
        entry["action"] = actionName(action);
        if (login) entry["login"] = *login;
        if (metadata) {
            Json values = Json::object();
            for (const auto& [key, value] : *metadata) values[key] = value;
            entry["metadata"] = std::move(values);
        }
        std::string line;
        try {
            line = json::encode(entry) + "\n";
        } catch (const EncodeError&) {
            return;
        }
        appendLine(file, line);
    });
}

void SecurityEventLogger::flush() {
    queue_->barrier();
}

}  // namespace pelko
