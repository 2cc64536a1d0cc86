#include "app/ContentView.hpp"

#include "app/InputCommandCenter.hpp"
#include "bridge/WebBridge.hpp"
#include "config/AppConfig.hpp"
#include "config/ConfigStore.hpp"
#include "config/ProjectTab.hpp"
#include "git/GitServicing.hpp"
#include "platform/MainQueue.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko {

std::shared_ptr<ContentView> ContentView::create(std::shared_ptr<WebBridge> bridge,
                                                 std::shared_ptr<ConfigStore> configStore,
                                                 std::shared_ptr<InputCommandCenter> commandCenter,
                                                 std::shared_ptr<TerminalService> terminalService,
                                                 std::shared_ptr<GitServicing> gitService) {
    return std::make_shared<ContentView>(Passkey{}, std::move(bridge), std::move(configStore),
                                         std::move(commandCenter), std::move(terminalService),
                                         std::move(gitService));
}

ContentView::ContentView(Passkey, std::shared_ptr<WebBridge> bridge, std::shared_ptr<ConfigStore> configStore,
                         std::shared_ptr<InputCommandCenter> commandCenter,
                         std::shared_ptr<TerminalService> terminalService,
                         std::shared_ptr<GitServicing> gitService)
    : bridge_(std::move(bridge)),
      configStore_(std::move(configStore)),
      commandCenter_(std::move(commandCenter)),
      terminalService_(std::move(terminalService)),
      gitService_(std::move(gitService)) {}

void ContentView::appear() {
    std::weak_ptr<ContentView> weak = weak_from_this();
    if (!started_) {
        subscription_ = configStore_->subscribe([weak](const AppConfig& config) {
            if (auto self = weak.lock()) self->applyConfiguration(config);
        });
    }

    commandCenter_->onNextProject = [weak] {
        if (auto self = weak.lock()) self->moveToNextProject();
    };
    commandCenter_->onPreviousProject = [weak] {
        if (auto self = weak.lock()) self->moveToPreviousProject();
    };
    commandCenter_->attach(terminalService_);
    commandCenter_->activateGestureMonitoring();

    if (started_) return;
    started_ = true;
    MainQueue::shared().async([weak] {
        if (auto self = weak.lock()) self->start();
    });
}

void ContentView::disappear() {
    commandCenter_->deactivateGestureMonitoring();
}

void ContentView::start() {
    // An unreadable file leaves the built-in default in place; nothing is reported.
    (void)configStore_->bootstrap();
    applyConfiguration(configStore_->config());
    terminalService_->bootstrapIfNeeded();
    refreshGitStatus(configStore_->config().activeProjectID);
}

void ContentView::applyConfiguration(const AppConfig& config) {
    std::optional<Uuid> target = config.activeProjectID;
    if (!target && !config.projects.empty()) target = config.projects.front().id;
    bridge_->updateConfigSnapshot(config);
    if (!target) {
        activeProjectID_.reset();
        return;
    }
    if (target == activeProjectID_) return;
    for (const auto& project : config.projects) {
        if (project.id == *target) {
            activeProjectID_ = target;
            activate(project);
            refreshGitStatus(target);
            return;
        }
    }
}

void ContentView::setActiveProject(const ProjectMetadata& project) {
    // First, so the configuration the store publishes next finds the view already on this project.
    activeProjectID_ = project.id;
    configStore_->setActiveProject(project.id);
    activate(project);
    refreshGitStatus(project.id);
}

void ContentView::activate(const ProjectMetadata& project) {
    bridge_->notifyProjectActivated(
        ProjectTab{project.id, project.name, project.rootPath, ProjectTab::Status::running});
}

void ContentView::refreshGitStatus(const std::optional<Uuid>& projectID) {
    if (gitService_) gitService_->refreshStatus(projectID);
}

void ContentView::moveToNextProject() {
    if (auto project = configStore_->nextProject(activeProjectID_)) setActiveProject(*project);
}

void ContentView::moveToPreviousProject() {
    if (auto project = configStore_->previousProject(activeProjectID_)) setActiveProject(*project);
}

}  // namespace pelko
