#pragma once
// DialogUpdatePresenter: shows the outcome of an update check the user sees as a message dialog over
// the application's window. Installing is left to the system's package manager, and the dialog says
// so. Main thread only.
#include <functional>

#include "app/UpdatePresenting.hpp"

namespace pelko {

class DialogUpdatePresenter final : public UpdatePresenting {
  public:
    // `parentWindow` gives the GtkWindow* to show the dialog over, or null.
    explicit DialogUpdatePresenter(std::function<void*()> parentWindow);

    void presentUpdateAvailable(const AppcastItem& item, const std::string& currentVersion) override;
    void presentUpToDate(const std::string& currentVersion) override;
    void presentCheckFailed(const std::string& reason) override;

  private:
    std::function<void*()> parentWindow_;
};

}  // namespace pelko
