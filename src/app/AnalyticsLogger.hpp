#pragma once
// AnalyticsLogger: analytics events as info entries of the system log (subsystem "app.pelko.analytics",
// category "events"); nothing is kept, written to a file or sent anywhere. An entry reads
// "event=<name>" or "event=<name> properties=<k=v, ...>" with the rendered properties sorted as whole
// texts. The page's text never breaks the entry: its backslashes, control characters and line
// separators are escaped as in the page's own log ("\\", "\n", "\u2028"); nothing else is.
//
// Stateless after construction; callable from any thread.
#include <string>

#include "platform/AnalyticsLogging.hpp"
#include "platform/SystemLogger.hpp"

namespace pelko {

class AnalyticsLogger final : public AnalyticsLogging {
  public:
    explicit AnalyticsLogger(SystemLogger logger = SystemLogger("app.pelko.analytics", "events"));

    void log(const std::string& event, const AnalyticsProperties& properties) override;

    // The entry's text for an event.
    static std::string entryText(const std::string& event, const AnalyticsProperties& properties);
    // A value's textual description: text as is but for those escapes, integers in decimal, true/false,
    // doubles in their shortest round-trip form with ".0" for whole numbers, any other value as its JSON
    // text.
    static std::string describe(const AnalyticsValue& value);

  private:
    SystemLogger logger_;
};

}  // namespace pelko
