#pragma once
// CLISessionConfig: one configured terminal session, identified by `id`. `projectId` absent means the
// session belongs to no project.
#include <optional>
#include <string>

#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

struct CLISessionConfig {
    Uuid id;
    std::string title;
    std::string workingDirectory;
    std::string shell;
    std::optional<Uuid> projectId;

    // Keys "id", "title", "workingDirectory", "shell", "projectId" (only when present).
    Json toJson() const;
    // Throws DecodeError for a missing required key, a bad UUID or a wrong type.
    static CLISessionConfig fromJson(const Json& value);

    friend bool operator==(const CLISessionConfig&, const CLISessionConfig&) = default;
};

}  // namespace pelko
