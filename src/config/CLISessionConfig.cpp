#include "config/CLISessionConfig.hpp"

namespace pelko {

std::string CLISessionConfig::numberedTitle(std::size_t number) {
    return "CLI #" + std::to_string(number);
}

Json CLISessionConfig::toJson() const {
    Json object = Json::object();
    object["id"] = id.string();
    object["title"] = title;
    object["workingDirectory"] = workingDirectory;
    object["shell"] = shell;
    if (projectId) object["projectId"] = projectId->string();
    return object;
}

CLISessionConfig CLISessionConfig::fromJson(const Json& value) {
    CLISessionConfig session;
    session.id = json::reqUuid(value, "id");
    session.title = json::reqString(value, "title");
    session.workingDirectory = json::reqString(value, "workingDirectory");
    session.shell = json::reqString(value, "shell");
    session.projectId = json::optUuid(value, "projectId");
    return session;
}

}  // namespace pelko
