#pragma once
// PelkoApp: the application. `run` parses the command line and, in the one process that owns the
// configuration folder, builds and wires every service (AppServices), sets up the updater and the
// menu commands ("Check for Updates..." in the application menu, "Next Project" and "Previous
// Project" in "Projects", Ctrl+Alt+Right and Ctrl+Alt+Left) and, when updating is on, asks silently
// for update information; then it opens the one window: the web view, the input command centre (made
// when the window first needs it) and the content view, which reads the configuration file and
// activates a project. The data folder, however it is spelled, has one such process: it holds the
// folder's lock (DataFolderLock) from before anything is written until it ends. A later start against
// the same folder on the same session bus brings that window to the front and ends with status 0; one
// that cannot reach it (another bus, or no bus) says so on standard error and ends with status 1,
// having built and written nothing. Closing the window, SIGTERM or SIGINT ends the process: once the
// main loop has returned, the end begins (ProcessEnd: HTTP exchanges, the update check and keyring
// calls are cut off, and none is made afterwards, but for the errands that keep a token pair GitHub
// already sent or a sign-out asked for, waited for a second at most) and, before `run` returns, Git's
// work is ended in order (running git stopped, its workers joined); nothing else is torn down.
//
// Main thread only; one instance per process.
#include <filesystem>
#include <memory>
#include <string>

#include "app/AppServices.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

class AppcastUpdater;
class ApplicationShell;
class ContentView;
class DataFolderLock;
class InputCommandCenter;
class WorkspaceWebView;

class PelkoApp {
  public:
    static constexpr const char* applicationId = "app.pelko.Pelko";
    static constexpr const char* version = PELKO_VERSION;

    // The data folder (config.json, projects.db) as the kernel resolves it, created when missing:
    // every spelling of one folder (a trailing slash, "..", a symbolic link) gives one path.
    static std::filesystem::path dataFolder(const XdgFolders& folders);
    // The identifier that makes one instance per data folder: `applicationId` for the default
    // folder, with a suffix derived from the resolved path of any other.
    static std::string instanceId(const XdgFolders& folders);

    PelkoApp();
    ~PelkoApp();
    PelkoApp(const PelkoApp&) = delete;
    PelkoApp& operator=(const PelkoApp&) = delete;

    int run(int argc, char** argv);

  private:
    bool holdDataFolder();
    bool startup();
    void activate();
    void showWindow();
    void* parentWindow() const;
    std::shared_ptr<InputCommandCenter> commandCenter();

    std::unique_ptr<ApplicationShell> shell_;
    std::unique_ptr<DataFolderLock> dataFolderLock_;
    std::shared_ptr<AppcastUpdater> updater_;
    AppServices services_;
    std::shared_ptr<InputCommandCenter> commandCenter_;
    std::shared_ptr<WorkspaceWebView> webView_;
    std::shared_ptr<ContentView> contentView_;
};

}  // namespace pelko
