#pragma once
// UpdatePresenting: how the updater shows the outcome of a check the user sees (a dialog in the
// application). Main thread only; each call shows one message and returns at once.
#include <string>

#include "app/AppcastFeed.hpp"

namespace pelko {

class UpdatePresenting {
  public:
    virtual ~UpdatePresenting() = default;
    virtual void presentUpdateAvailable(const AppcastItem& item, const std::string& currentVersion) = 0;
    virtual void presentUpToDate(const std::string& currentVersion) = 0;
    virtual void presentCheckFailed(const std::string& reason) = 0;
};

}  // namespace pelko
