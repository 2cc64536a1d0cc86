#pragma once
// SecurityEventLogger: the append-only JSON-lines audit trail of GitHub account events,
// "security-events.log" in the caches folder's "pelko" folder (the temporary folder's "pelko" when
// there is no caches folder).
//
// `log` returns at once from any thread; lines are written on the queue
// "app.pelko.security-events.logger", one at a time in call order, each opened, appended and closed.
// The file is created 0600 and the default folder 0700, since lines name the account. Failures only
// lose the line: nothing is reported. Never rotated or truncated. Callers pass no tokens.
#include <filesystem>
#include <memory>
#include <optional>

#include "github/SecurityEventLogging.hpp"

namespace pelko {

class SerialQueue;

class SecurityEventLogger final : public SecurityEventLogging {
  public:
    // Without a file: the default location, whose folder is created when missing.
    explicit SecurityEventLogger(std::optional<std::filesystem::path> fileURL = std::nullopt);
    ~SecurityEventLogger() override;

    static std::filesystem::path defaultLocation();
    static const char* actionName(SecurityEventAction action);

    const std::filesystem::path& fileURL() const { return fileURL_; }
    void log(SecurityEventAction action, const std::optional<std::string>& login,
             const std::optional<Metadata>& metadata) override;
    // Waits until every line logged so far is written (tests).
    void flush();

  private:
    std::filesystem::path fileURL_;
    std::shared_ptr<SerialQueue> queue_;
};

}  // namespace pelko
