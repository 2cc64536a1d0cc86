#pragma once
// ApplicationShell: the GTK application object: its main loop, its menu bar and its menu commands
// (GActions with keyboard accelerators). The process ends when its last window closes.
//
// Main thread only. Commands are declared before `run`; a command's enabled state is fixed when it is
// declared. Non-unique: every start is a process of its own.
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

    explicit ApplicationShell(const std::string& applicationId);
    ~ApplicationShell();
    ApplicationShell(const ApplicationShell&) = delete;
    ApplicationShell& operator=(const ApplicationShell&) = delete;

    void addCommand(Command command);
    // The GtkApplication*.
    void* application() const;
    // Runs the main loop; `activate` is called once, when the application starts. Returns the exit status.
    int run(int argc, char** argv, std::function<void()> activate);

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace pelko
