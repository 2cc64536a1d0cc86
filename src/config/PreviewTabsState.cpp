#include "config/PreviewTabsState.hpp"

namespace pelko {

std::string_view previewTabViewModeText(PreviewTabViewMode mode) {
    switch (mode) {
        case PreviewTabViewMode::markdown:
            return "markdown";
        case PreviewTabViewMode::rendered:
            return "rendered";
        case PreviewTabViewMode::source:
            return "source";
    }
    return "source";
}

PreviewTabViewMode previewTabViewModeFromText(std::string_view text) {
    for (auto mode :
         {PreviewTabViewMode::markdown, PreviewTabViewMode::rendered, PreviewTabViewMode::source}) {
        if (previewTabViewModeText(mode) == text) return mode;
    }
    throw DecodeError("unknown view mode: " + std::string(text));
}

Json PreviewTabSnapshot::toJson() const {
    Json object = Json::object();
    object["id"] = id;
    object["path"] = path;
    object["title"] = title;
    object["isDirty"] = isDirty;
    object["viewMode"] = std::string(previewTabViewModeText(viewMode));
    object["lastOpenedAt"] = lastOpenedAt;
    return object;
}

PreviewTabSnapshot PreviewTabSnapshot::fromJson(const Json& value) {
    PreviewTabSnapshot tab;
    tab.id = json::reqString(value, "id");
    tab.path = json::reqString(value, "path");
    tab.title = json::reqString(value, "title");
    tab.isDirty = json::reqBool(value, "isDirty");
    tab.viewMode = previewTabViewModeFromText(json::reqString(value, "viewMode"));
    tab.lastOpenedAt = json::reqInteger(value, "lastOpenedAt");
    return tab;
}

Json PreviewTabsState::toJson() const {
    Json object = Json::object();
    if (activeTabId) object["activeTabId"] = *activeTabId;
    Json array = Json::array();
    for (const auto& tab : tabs) array.push_back(tab.toJson());
    object["tabs"] = std::move(array);
    object["version"] = version;
    return object;
}

PreviewTabsState PreviewTabsState::fromJson(const Json& value) {
    PreviewTabsState state;
    state.activeTabId = json::optString(value, "activeTabId");
    for (const Json& element : json::reqArray(value, "tabs"))
        state.tabs.push_back(PreviewTabSnapshot::fromJson(element));
    state.version = json::reqInteger(value, "version");
    return state;
}

bool PreviewTabsState::withinBounds(const Json& snapshot) {
    if (snapshot.is_object()) {
        auto tabs = snapshot.find("tabs");
        if (tabs != snapshot.end() && tabs->is_array() && tabs->size() > maxTabs) return false;
    } else if (snapshot.is_array() && snapshot.size() > maxTabs) {
        return false;
    }
    try {
        return json::encode(snapshot).size() <= maxEncodedBytes;
    } catch (const std::exception&) {
        return true;  // not encodable: decoding reports it
    }
}

}  // namespace pelko
