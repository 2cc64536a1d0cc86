#pragma once
// PreviewTabMessages: the page's preview-tab messages ("previewTabs/*": a snapshot to persist, and
// notices that are only logged) and the preview tabs sent to the page on activation. Main thread.
#include <string>

#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class BridgeContext;

struct PreviewTabMessages {
    static void handle(BridgeContext& context, const std::string& type, const Json* payload);
    // "previewTab:hydrate", then "previewTab:warning" when tabs lost their files.
    static void dispatchPreviewTabs(BridgeContext& context, const Uuid& projectID);
};

}  // namespace pelko
