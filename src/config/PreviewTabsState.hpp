#pragma once
// PreviewTabsState: one project's preview tabs as the page sends them and as "projects.db" stores
// them, with PreviewTabSnapshot (one tab) and PreviewTabViewMode ("markdown", "rendered", "source").
//
// Reading is strict: every tab key and "tabs"/"version" are required, an unknown view mode or a wrong
// type throws DecodeError; "activeTabId" may be missing or null. Writing leaves "activeTabId" out
// when absent. Tab identifiers and time stamps are the page's and never interpreted.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Json.hpp"

namespace pelko {

enum class PreviewTabViewMode { markdown, rendered, source };

std::string_view previewTabViewModeText(PreviewTabViewMode mode);
// Throws DecodeError for any other text.
PreviewTabViewMode previewTabViewModeFromText(std::string_view text);

struct PreviewTabSnapshot {
    std::string id;
    std::string path;  // relative to the project's root folder
    std::string title;
    bool isDirty = false;
    PreviewTabViewMode viewMode = PreviewTabViewMode::source;
    std::int64_t lastOpenedAt = 0;

    // Keys "id", "path", "title", "isDirty", "viewMode", "lastOpenedAt".
    Json toJson() const;
    static PreviewTabSnapshot fromJson(const Json& value);

    friend bool operator==(const PreviewTabSnapshot&, const PreviewTabSnapshot&) = default;
};

struct PreviewTabsState {
    static constexpr std::int64_t currentVersion = 1;
    // Bounds of one project's snapshot: the page's own tab limit is far below either.
    static constexpr std::size_t maxTabs = 1000;
    static constexpr std::size_t maxEncodedBytes = 1024 * 1024;

    // True when a snapshot as the page sends it has at most `maxTabs` tabs and encodes to at most
    // `maxEncodedBytes`; the tabs are counted first, so an oversized list is never encoded.
    static bool withinBounds(const Json& snapshot);

    std::optional<std::string> activeTabId;
    std::vector<PreviewTabSnapshot> tabs;
    std::int64_t version = currentVersion;

    // Keys "activeTabId" (only when present), "tabs", "version".
    Json toJson() const;
    static PreviewTabsState fromJson(const Json& value);

    friend bool operator==(const PreviewTabsState&, const PreviewTabsState&) = default;
};

}  // namespace pelko
