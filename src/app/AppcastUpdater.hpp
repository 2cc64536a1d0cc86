#pragma once
// AppcastUpdater: the application's update checks. Updating is on only when Info.plist has the key
// "SUPublicEDKey" (its value is not read) and a feed address resolves: APPCAST_URL from the
// environment, trimmed, else Info.plist's "SUFeedURL" text; the address must parse as an absolute
// URI. On or off is decided once, at construction.
//
// A check fetches the feed (http or https, on the serial queue "app.pelko.updater"), takes its newest
// item and compares it with the running version (Info.plist "CFBundleVersion"); once the end of the
// process has begun, a fetch is cut off at once, as every HTTP exchange is. The silent probe at
// start-up shows nothing itself: when it finds a newer version and ends without error, it starts one
// interactive check, which shows its outcome through UpdatePresenting. Installing is the system
// package manager's job; this class downloads and installs nothing.
//
// Public operations run on the main thread; results come back to it through the main queue.
#include <memory>
#include <optional>
#include <string>

#include "app/AppcastFeed.hpp"
#include "app/UpdatePresenting.hpp"
#include "platform/Environment.hpp"
#include "platform/PropertyList.hpp"

namespace pelko {

class SerialQueue;

struct AppcastFeedResolver {
    static std::optional<std::string> resolve(const PropertyList& info, const Environment& environment);
    static bool isAbsoluteUri(const std::string& text);
};

class AppcastUpdater final : public std::enable_shared_from_this<AppcastUpdater> {
    struct Passkey {};

  public:
    enum class CycleKind { updateInformation, interactive };

    static std::shared_ptr<AppcastUpdater> create(const PropertyList& info, const Environment& environment,
                                                  std::shared_ptr<UpdatePresenting> presenter);
    AppcastUpdater(Passkey, std::optional<std::string> feedURL, std::string currentVersion,
                   std::shared_ptr<UpdatePresenting> presenter);
    ~AppcastUpdater();
    AppcastUpdater(const AppcastUpdater&) = delete;
    AppcastUpdater& operator=(const AppcastUpdater&) = delete;

    bool isEnabled() const { return feedURL_.has_value(); }
    const std::optional<std::string>& feedURL() const { return feedURL_; }
    const std::string& currentVersion() const { return currentVersion_; }

    // The silent probe. Nothing when updating is off.
    void checkForUpdateInformation();
    // The check the user asked for ("Check for Updates..."). Nothing when updating is off.
    void checkForUpdates();
    // A check in flight or not (tests wait on it).
    bool isChecking() const { return checksInFlight_ > 0; }

  private:
    struct Outcome {
        std::optional<AppcastItem> newerItem;
        std::optional<std::string> error;
    };
    void startCycle(CycleKind kind);
    void finishCycle(CycleKind kind, const Outcome& outcome);
    static Outcome fetch(const std::string& url, const std::string& currentVersion);

    std::optional<std::string> feedURL_;
    std::string currentVersion_;
    std::shared_ptr<UpdatePresenting> presenter_;
    std::shared_ptr<SerialQueue> queue_;
    bool didFindUpdateDuringProbe_ = false;
    int checksInFlight_ = 0;
};

}  // namespace pelko
