#include "app/DialogUpdatePresenter.hpp"

#include "platform/gui/Dialogs.hpp"

namespace pelko {

DialogUpdatePresenter::DialogUpdatePresenter(std::function<void*()> parentWindow)
    : parentWindow_(std::move(parentWindow)) {}

void DialogUpdatePresenter::presentUpdateAvailable(const AppcastItem& item,
                                                   const std::string& currentVersion) {
    std::string detail = "pelko " + item.displayVersion() + " is available; you have " + currentVersion +
                         ". Install it with your system's package manager.";
    if (!item.link.empty()) detail += "\n\n" + item.link;
    Dialogs::showMessage(parentWindow_ ? parentWindow_() : nullptr, "A new version of pelko is available",
                         detail);
}

void DialogUpdatePresenter::presentUpToDate(const std::string& currentVersion) {
    Dialogs::showMessage(parentWindow_ ? parentWindow_() : nullptr, "You're up to date",
                         "pelko " + currentVersion + " is the newest version available.");
}

void DialogUpdatePresenter::presentCheckFailed(const std::string& reason) {
    Dialogs::showMessage(parentWindow_ ? parentWindow_() : nullptr, "The update check failed", reason);
}

}  // namespace pelko
