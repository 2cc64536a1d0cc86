#pragma once
// GitProjectProviding: how the Git service reads the workspace configuration.
//
// Main thread only: the Git service reads it when a request is made, there, and hands its workers
// copies; no worker waits on the main thread for it. Both operations only read; they never block,
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
