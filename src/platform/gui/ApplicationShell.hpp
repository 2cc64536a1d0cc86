#pragma once
// ApplicationShell: the GTK application object: its main loop, its menu bar and its menu commands
// (GActions with keyboard accelerators). The process ends when its last window closes.
//
// Main thread only. Commands are declared before `run`; a command's enabled state is fixed when it is
// declared. Unique per application identifier on the D-Bus session bus: a second start with the same
// identifier activates the first process and ends with status 0 before `startup` runs, so it builds
// nothing and writes nothing (without a session bus every start is a process of its own, and its
// `startup` runs). The identifier is asked for once, only when the command line leads to a run:
// "--version" prints the version and exits 0; "--help" prints the options and exits 0; an unknown
// option exits 1; none of them asks for it.
// SIGTERM and SIGINT close the windows and end the main loop as closing the last window does.
// The renderer windows draw with is chosen at start-up (see SoftwareRendering.hpp).
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelko {

class ApplicationShell {
  public:
    struct Command {
        std::string menu;         // menu bar entry the item goes in, created in first-use order
        std::string label;        // the item's text
        std::string action;       // action name, unique
        std::string accelerator;  // GTK accelerator syntax, or empty
        bool enabled = true;
        std::function<void()> handler;
    };

    explicit ApplicationShell(std::function<std::string()> applicationId);
    ~ApplicationShell();
    ApplicationShell(const ApplicationShell&) = delete;
    ApplicationShell& operator=(const ApplicationShell&) = delete;

    void addCommand(Command command);
    // The GtkApplication*.
    void* application() const;
    // Runs the main loop and returns the exit status. In the first process `startup` runs once, before
    // the first `activate`; `activate` runs at the start and again whenever another start is handed
    // over to this process. A `startup` that returns false ends the process with status 1 at once:
    // no menu, no `activate`.
    int run(int argc, char** argv, const std::string& version, std::function<bool()> startup,
            std::function<void()> activate);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace pelko
