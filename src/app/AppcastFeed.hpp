#pragma once
// AppcastFeed: the update feed (an RSS "appcast" with the sparkle XML namespace) reduced to its
// newest item, and the comparison of version texts. Parsing never loads external entities or the
// network. Pure; any thread.
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

struct AppcastItem {
    std::string version;             // sparkle:version (the build version compared)
    std::string shortVersionString;  // sparkle:shortVersionString, the version users read; may be empty
    std::string title;
    std::string link;  // release notes or download page; may be empty

    // The text to show: the short version when there is one.
    const std::string& displayVersion() const {
        return shortVersionString.empty() ? version : shortVersionString;
    }
};

struct AppcastFeed {
    // The item with the highest version, or nothing when the text is not a feed with a versioned item.
    static std::optional<AppcastItem> newestItem(std::string_view xml);
    // < 0 when `a` is older than `b`, 0 when equal, > 0 when newer. Numbers compare numerically,
    // a number is newer than text at the same place ("1.0" is newer than "1.0b2"), and trailing
    // zero components do not count ("1.0" equals "1.0.0").
    static int compareVersions(std::string_view a, std::string_view b);
};

}  // namespace pelko
