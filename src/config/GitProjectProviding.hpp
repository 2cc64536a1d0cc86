#pragma once
// GitProjectProviding: how the Git service reads the workspace configuration.
//
// Main thread only: a caller on another queue hops to the main queue synchronously
// (MainQueue::sync) and copies what it needs there. Both operations only read; they never block,
// never change the configuration and hand out copies, never references into the store.
#include <optional>

#include "config/AppConfig.hpp"
#include "config/ProjectMetadata.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

class GitProjectProviding {
  public:
    virtual ~GitProjectProviding() = default;

    // The current configuration.
    virtual AppConfig config() const = 0;
    // The first configured project with that identifier, or nullopt.
    virtual std::optional<ProjectMetadata> project(const Uuid& id) const = 0;
};

}  // namespace pelko
