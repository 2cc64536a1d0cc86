#pragma once
// ContentView: the native side of the window's content, project activation. When the window is
// shown it subscribes to the store's configuration (receiving the current one at once), connects the
// input command centre to project switching and to the terminal service, and then runs its start
// task on the next turn of the main loop: read the configuration file (an unreadable file is not
// reported), apply the configuration, send the first terminal snapshot of the loaded configuration
// and refresh the active project's Git status.
//
// Applying a configuration hands it to the bridge (the page gets "app/config") and activates its
// active project, or else its first, when that differs from the project this view last activated.
// Activating tells the bridge (explorer watch, "project/activate", preview tabs) and refreshes the
// project's Git status. The view never writes the store except when the user switches projects.
//
// Main thread only. Holds the services strongly for the life of the window; the command centre's
// callbacks hold the view weakly.
#include <memory>
#include <optional>

#include "platform/Published.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class ConfigStore;
class GitServicing;
class InputCommandCenter;
class TerminalService;
class WebBridge;
struct AppConfig;
struct ProjectMetadata;

class ContentView final : public std::enable_shared_from_this<ContentView> {
    struct Passkey {};

  public:
    // `gitService` may be null while the Git integration is not part of the build.
    static std::shared_ptr<ContentView> create(std::shared_ptr<WebBridge> bridge,
                                               std::shared_ptr<ConfigStore> configStore,
                                               std::shared_ptr<InputCommandCenter> commandCenter,
                                               std::shared_ptr<TerminalService> terminalService,
                                               std::shared_ptr<GitServicing> gitService);
    ContentView(Passkey, std::shared_ptr<WebBridge> bridge, std::shared_ptr<ConfigStore> configStore,
                std::shared_ptr<InputCommandCenter> commandCenter,
                std::shared_ptr<TerminalService> terminalService, std::shared_ptr<GitServicing> gitService);

    // The window was shown: on the first call the subscription, then the appear actions, then (first
    // call only) the start task, queued.
    void appear();
    // The window went away: the input monitors are removed; callbacks, links and the subscription stay.
    void disappear();

    void moveToNextProject();
    void moveToPreviousProject();
    const std::optional<Uuid>& activeProjectID() const { return activeProjectID_; }

  private:
    void start();
    void applyConfiguration(const AppConfig& config);
    void setActiveProject(const ProjectMetadata& project);
    void activate(const ProjectMetadata& project);
    void refreshGitStatus(const std::optional<Uuid>& projectID);

    std::shared_ptr<WebBridge> bridge_;
    std::shared_ptr<ConfigStore> configStore_;
    std::shared_ptr<InputCommandCenter> commandCenter_;
    std::shared_ptr<TerminalService> terminalService_;
    std::shared_ptr<GitServicing> gitService_;
    std::optional<Uuid> activeProjectID_;
    Subscription subscription_;
    bool started_ = false;
};

}  // namespace pelko
