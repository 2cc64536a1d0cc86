#include "platform/SystemLogger.hpp"

#include <systemd/sd-journal.h>

namespace pelko {

namespace {

std::mutex captureMutex;
LogCapture* currentCapture = nullptr;

int journalPriority(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return 7;
        case LogLevel::info:
            return 6;
        case LogLevel::notice:
            return 5;
        case LogLevel::error:
            return 3;
    }
    return 6;
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
    sd_journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%d", journalPriority(level),
                    "PELKO_SUBSYSTEM=%s", subsystem_.c_str(), "PELKO_CATEGORY=%s", category_.c_str(),
                    "SYSLOG_IDENTIFIER=pelko", nullptr);
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
