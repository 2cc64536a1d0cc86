#pragma once
// PelkoApp: the application. Its constructor builds and wires every service (AppServices), sets up
// the updater and the menu commands ("Check for Updates..." in the application menu, "Next Project"
// and "Previous Project" in "Projects", Ctrl+Alt+Right and Ctrl+Alt+Left) and, when updating is on,
// asks silently for update information. `run` opens the one window: the web view, the input command
// centre (made when the window first needs it) and the content view, which reads the configuration
// file and activates a project. Closing the window ends the process; nothing is torn down before.
//
// Main thread only; one instance per process.
#include <memory>

#include "app/AppServices.hpp"

namespace pelko {

class AppcastUpdater;
class ApplicationShell;
class ContentView;
class InputCommandCenter;
class WorkspaceWebView;

class PelkoApp {
  public:
    static constexpr const char* applicationId = "app.pelko.Pelko";

    PelkoApp();
    ~PelkoApp();
    PelkoApp(const PelkoApp&) = delete;
    PelkoApp& operator=(const PelkoApp&) = delete;

    int run(int argc, char** argv);

  private:
    void showWindow();
    void* parentWindow() const;
    std::shared_ptr<InputCommandCenter> commandCenter();

    std::unique_ptr<ApplicationShell> shell_;
    std::shared_ptr<AppcastUpdater> updater_;
    AppServices services_;
    std::shared_ptr<InputCommandCenter> commandCenter_;
    std::shared_ptr<WorkspaceWebView> webView_;
    std::shared_ptr<ContentView> contentView_;
};

}  // namespace pelko
