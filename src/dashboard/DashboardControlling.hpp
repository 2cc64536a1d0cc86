#pragma once
// DashboardControlling: opening and closing the dashboard, and noting project cards opened on it.
//
// Main thread only; no operation fails or blocks. `present` opens the dashboard (an absent source
// counts as "native") or, when already open and forced, reloads it; `dismiss` closes an open one;
// `noteCardOpened` is recorded only while the dashboard is open.
#include <optional>
#include <string>

#include "platform/Uuid.hpp"

namespace pelko {

class DashboardControlling {
  public:
    virtual ~DashboardControlling() = default;
    virtual void present(bool forceRefresh, const std::optional<std::string>& source) = 0;
    virtual void dismiss() = 0;
    virtual void noteCardOpened(const Uuid& projectId, const std::optional<std::string>& projectName) = 0;
};

}  // namespace pelko
