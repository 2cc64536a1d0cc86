#pragma once
// The dashboard's read-only `git` queries: the process environment with prompts off, C messages and no
// optional locks, "git" put first, run through the shared runner in the project's folder.
#include <filesystem>
#include <string>
#include <vector>

#include "config/ProjectMetadata.hpp"
#include "git/GitProcessRunning.hpp"

namespace pelko::dashboard_git {

// The project's root folder (ProjectMetadata::rootFolder).
std::filesystem::path projectFolder(const ProjectMetadata& project);
// Blocks until `git` has ended.
GitProcessExecutionResult run(GitProcessRunning& runner, std::vector<std::string> arguments,
                              const std::filesystem::path& folder);

}  // namespace pelko::dashboard_git
