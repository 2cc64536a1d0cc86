#include "platform/SystemLogger.hpp"

#include <glib.h>

namespace pelko {

namespace {

std::mutex captureMutex;
LogCapture* currentCapture = nullptr;

// GLib's error level aborts the process, so errors go out as warnings (journal priority 4).
GLogLevelFlags glibLevel(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return G_LOG_LEVEL_DEBUG;
        case LogLevel::info:
            return G_LOG_LEVEL_INFO;
        case LogLevel::notice:
            return G_LOG_LEVEL_MESSAGE;
        case LogLevel::error:
            return G_LOG_LEVEL_WARNING;
    }
    return G_LOG_LEVEL_INFO;
}

}  // namespace

SystemLogger::SystemLogger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

void SystemLogger::debug(const std::string& message) const {
    log(LogLevel::debug, message);
}
void SystemLogger::info(const std::string& message) const {
    log(LogLevel::info, message);
}
void SystemLogger::notice(const std::string& message) const {
    log(LogLevel::notice, message);
}
void SystemLogger::error(const std::string& message) const {
    log(LogLevel::error, message);
}

void SystemLogger::log(LogLevel level, const std::string& message) const {
    {
        std::lock_guard lock(captureMutex);
        if (currentCapture) {
            currentCapture->append({subsystem_, category_, level, message});
            return;
        }
    }
    // The subsystem is the log domain, so G_MESSAGES_DEBUG=app.pelko.terminal shows one subsystem's
    // debug lines. Lengths are given, so the message is never read as a format.
    const GLogField fields[] = {
        {"MESSAGE", message.data(), static_cast<gssize>(message.size())},
        {"GLIB_DOMAIN", subsystem_.c_str(), -1},
        {"PELKO_SUBSYSTEM", subsystem_.c_str(), -1},
        {"PELKO_CATEGORY", category_.c_str(), -1},
        {"SYSLOG_IDENTIFIER", "pelko", -1},
    };
    g_log_structured_array(glibLevel(level), fields, G_N_ELEMENTS(fields));
}

LogCapture::LogCapture() {
    std::lock_guard lock(captureMutex);
    currentCapture = this;
}

LogCapture::~LogCapture() {
    std::lock_guard lock(captureMutex);
    if (currentCapture == this) currentCapture = nullptr;
}

std::vector<LogEntry> LogCapture::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<LogEntry> LogCapture::entries(const std::string& subsystem, const std::string& category) const {
    std::lock_guard lock(mutex_);
    std::vector<LogEntry> matching;
    for (const auto& entry : entries_) {
        if (entry.subsystem == subsystem && entry.category == category) matching.push_back(entry);
    }
    return matching;
}

void LogCapture::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

void LogCapture::append(LogEntry entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

}  // namespace pelko
