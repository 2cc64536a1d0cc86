#include "dashboard/DashboardGitCommand.hpp"

#include "platform/Environment.hpp"

namespace pelko::dashboard_git {

namespace {

const Environment::Map& gitEnvironment() {
    static const Environment::Map environment = [] {
        Environment::Map values = Environment::process().all();
        values["GIT_TERMINAL_PROMPT"] = "0";
        values["GIT_OPTIONAL_LOCKS"] = "0";
        values["LC_ALL"] = "C";
        return values;
    }();
    return environment;
}

}  // namespace

std::filesystem::path projectFolder(const ProjectMetadata& project) {
    return project.rootFolder();
}

GitProcessExecutionResult run(GitProcessRunning& runner, std::vector<std::string> arguments,
                              const std::filesystem::path& folder) {
    arguments.insert(arguments.begin(), "git");
    return runner.run(arguments, folder, gitEnvironment());
}

}  // namespace pelko::dashboard_git
