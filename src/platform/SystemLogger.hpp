#pragma once
// SystemLogger: diagnostic entries with a subsystem and a category, like "app.pelko.preview-tabs" /
// "persistence".
//
// In production every entry goes through GLib's structured logging (log domain = subsystem, with the
// fields PELKO_SUBSYSTEM and PELKO_CATEGORY): to the journal when standard error is connected to it,
// to standard error otherwise; debug and info entries show only for the domains in G_MESSAGES_DEBUG,
// as in any GLib program. Errors are logged at GLib's warning level (its error level aborts). Tests
// install a capturing sink (LogCapture) that receives every entry instead. Safe from any thread. Callers
// never pass tokens, secrets, request bodies or environment maps.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelko {

enum class LogLevel { debug, info, notice, error };

struct LogEntry {
    std::string subsystem;
    std::string category;
    LogLevel level;
    std::string message;
};

class SystemLogger {
  public:
    SystemLogger(std::string subsystem, std::string category);

    void debug(const std::string& message) const;
    void info(const std::string& message) const;
    void notice(const std::string& message) const;
    void error(const std::string& message) const;
    void log(LogLevel level, const std::string& message) const;

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

  private:
    std::string subsystem_;
    std::string category_;
};

// While alive, every entry of every SystemLogger goes to this capture and not to the journal.
// One capture at a time.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogEntry> entries() const;
    // Entries whose subsystem and category match.
    std::vector<LogEntry> entries(const std::string& subsystem, const std::string& category) const;
    void clear();

  private:
    friend class SystemLogger;
    void append(LogEntry entry);
    mutable std::mutex mutex_;
    std::vector<LogEntry> entries_;
};

}  // namespace pelko
