#pragma once
// PelkoApp: the application. `run` parses the command line and, in the one process that owns the
// configuration folder, builds and wires every service (AppServices), sets up the updater and the
// menu commands ("Check for Updates..." in the application menu, "Next Project" and "Previous
// Project" in "Projects", Ctrl+Alt+Right and Ctrl+Alt+Left) and, when updating is on, asks silently
// for update information; then it opens the one window: the web view, the input command centre (made
// when the window first needs it) and the content view, which reads the configuration file and
// activates a project. A later start against the same configuration folder brings that window to the
// front and ends. Closing the window, SIGTERM or SIGINT ends the process: once the main loop has
// returned, the end begins (ProcessEnd: HTTP exchanges, the update check and keyring calls are cut
// off, and none is made afterwards) and, before `run` returns, Git's work is ended in order (running
// git stopped, its workers joined); nothing else is torn down.
//
// Main thread only; one instance per process.
#include <filesystem>
#include <memory>
#include <string>

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
    static constexpr const char* version = PELKO_VERSION;

    // The identifier that makes one instance per configuration folder: `applicationId` for the
    // default folder, with a suffix derived from any other folder.
    static std::string instanceId(const std::filesystem::path& home, const std::filesystem::path& dataHome);

    PelkoApp();
    ~PelkoApp();
    PelkoApp(const PelkoApp&) = delete;
    PelkoApp& operator=(const PelkoApp&) = delete;

    int run(int argc, char** argv);

  private:
    void startup();
    void activate();
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
