#include "bridge/ProjectMessages.hpp"

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgePayloads.hpp"
#include "bridge/FileMessages.hpp"
#include "bridge/PreviewTabMessages.hpp"
#include "bridge/SignInMessages.hpp"
#include "config/ConfigStore.hpp"
#include "platform/MainQueue.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko {

namespace {

void openProjects(BridgeContext& context) {
    if (!context.folderPicker) return;
    context.folderPicker->pickFolders(
        [weak = context.weak_from_this()](const std::vector<std::filesystem::path>& folders) {
            auto self = weak.lock();
            if (!self || folders.empty()) return;
            auto store = self->configStore.lock();
            std::vector<ProjectMetadata> opened =
                store ? store->openProjects(folders) : std::vector<ProjectMetadata>{};
            for (const auto& project : opened) {
                if (auto git = self->gitService.lock()) git->refreshStatus(project.id);
            }
        });
}

void closeProject(BridgeContext& context, const Uuid& projectID) {
    auto store = context.configStore.lock();
    if (!store) return;
    if (context.monitoredExplorerProjectID == projectID) FileMessages::stopExplorerMonitoring(context);
    auto result = store->closeProject(projectID);
    if (!result || result->removedSessionIDs.empty()) return;
    if (auto terminal = context.terminalService.lock())
        terminal->terminateSessions(result->removedSessionIDs);
}

void activateProject(BridgeContext& context, const Uuid& projectID) {
    auto store = context.configStore.lock();
    auto project = store ? store->project(projectID) : std::nullopt;
    if (store) store->setActiveProject(projectID);
    context.activeProjectID.set(projectID);
    FileMessages::activateExplorerMonitoring(context, projectID);
    PreviewTabMessages::dispatchPreviewTabs(context, projectID);
    if (context.dashboardController.lock()) {
        std::optional<std::string> name = project ? std::optional<std::string>(project->name) : std::nullopt;
        MainQueue::shared().async([controller = context.dashboardController, projectID, name] {
            if (auto strong = controller.lock()) strong->noteCardOpened(projectID, name);
        });
    }
}

void resumeWorkspace(BridgeContext& context) {
    auto store = context.configStore.lock();
    if (!store) {
        context.dispatchEvent(
            "project/resume/error",
            ResumeErrorPayload{"config-unavailable", "設定を読み込めませんでした"}.toJson());
        return;
    }
    auto active = store->resumeWorkspace();
    if (!active) {
        context.dispatchEvent(
            "project/resume/error",
            ResumeErrorPayload{"no-projects", "復元できるプロジェクトが見つかりません"}.toJson());
        return;
    }
    if (auto git = context.gitService.lock()) git->refreshStatus(*active);
}

}  // namespace

void ProjectMessages::handle(BridgeContext& context, const std::string& type, const Json* payload) {
    if (type == "project/open") {
        context.runOnMain([](BridgeContext& self) { openProjects(self); });
    } else if (type == "project/close") {
        auto projectID = json::uuidField(payload, "projectId");
        if (!projectID) return;
        context.runOnMain([projectID = *projectID](BridgeContext& self) { closeProject(self, projectID); });
    } else if (type == "project/activate") {
        auto projectID = json::uuidField(payload, "id");
        if (!projectID) return;
        context.runOnMain(
            [projectID = *projectID](BridgeContext& self) { activateProject(self, projectID); });
        // On the main thread the activation above has already run; from elsewhere the refresh is
        // requested first.
        if (auto git = context.gitService.lock()) git->refreshStatus(*projectID);
    } else if (type == "project/resume") {
        context.runOnMain([](BridgeContext& self) { resumeWorkspace(self); });
    } else if (type == "project/reorder") {
        auto order = json::stringArrayField(payload, "order");
        if (!order) return;
        std::vector<Uuid> ids;
        for (const auto& text : *order) {
            if (auto id = Uuid::parse(text)) ids.push_back(*id);
        }
        if (ids.empty()) return;
        context.runOnMain([ids = std::move(ids)](BridgeContext& self) {
            if (auto store = self.configStore.lock()) store->reorderProjects(ids);
        });
    } else if (type == "app/config/request") {
        context.runOnMain([](BridgeContext& self) {
            if (self.cachedConfig) {
                AppConfig config = *self.cachedConfig;
                updateConfigSnapshot(self, config);
            } else if (auto store = self.configStore.lock()) {
                updateConfigSnapshot(self, store->config());
            }
        });
    }
}

void ProjectMessages::updateConfigSnapshot(BridgeContext& context, const AppConfig& config) {
    context.cachedConfig = config;
    context.dispatchEvent("app/config", ConfigSnapshotPayload::from(config).toJson());
    SignInMessages::dispatchStoredStatus(context);
}

}  // namespace pelko
