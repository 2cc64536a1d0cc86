#include "bridge/PreviewTabMessages.hpp"

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgePayloads.hpp"
#include "config/PreviewTabsPersistenceService.hpp"
#include "config/PreviewTabsState.hpp"

namespace pelko {

void PreviewTabMessages::handle(BridgeContext& context, const std::string& type, const Json* payload) {
    if (type == "previewTabs/persist") {
        auto projectText = json::stringField(payload, "projectId");
        auto projectID = projectText ? Uuid::parse(*projectText) : std::nullopt;
        if (!projectID) return;
        // Present with any value, null included: a null snapshot is reported as invalid below.
        const Json* snapshot = json::presentField(payload, "snapshot");
        if (!snapshot) return;
        auto project = context.project(*projectID);
        if (!project || !context.previewTabsService) return;
        // Bounded in tabs and bytes: every activation of the project checks each stored tab on disk.
        if ((!snapshot->is_object() && !snapshot->is_array()) || !PreviewTabsState::withinBounds(*snapshot)) {
            context.previewTabsLogger.error("previewTabs: invalid snapshot payload for project " +
                                            *projectText);
            return;
        }
        std::string failure;
        try {
            PreviewTabsState state = PreviewTabsState::fromJson(*snapshot);
            if (auto error = context.previewTabsService->persist(state, *project))
                failure = error->description();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        if (!failure.empty()) {
            context.previewTabsLogger.error("previewTabs: failed to persist snapshot for project " +
                                            *projectText + ": " + failure);
        }
    } else if (type == "previewTabs/cache/write" || type == "previewTabs/limitReached") {
        auto projectText = json::stringField(payload, "projectId");
        if (!projectText) return;
        context.previewTabsLogger.notice(type == "previewTabs/cache/write"
                                             ? "previewTabs: session cache write for project " + *projectText
                                             : "previewTabs: limit reached for project " + *projectText);
    }
}

void PreviewTabMessages::dispatchPreviewTabs(BridgeContext& context, const Uuid& projectID) {
    auto project = context.project(projectID);
    if (!project || !context.previewTabsService) return;
    PreviewTabsHydrationResult result = context.previewTabsService->hydrateSnapshot(*project);
    context.dispatchEvent("previewTab:hydrate",
                          PreviewTabsHydratePayload{projectID.string(), result.state}.toJson());
    if (!result.warnings.empty()) {
        context.dispatchEvent("previewTab:warning",
                              PreviewTabWarningPayload{projectID.string(), result.warnings}.toJson());
    }
}

}  // namespace pelko
