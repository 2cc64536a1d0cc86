#pragma once
// CLISessionConfig: one configured terminal session, identified by `id`. `projectId` absent means the
// session belongs to no project.
#include <cstddef>
#include <optional>
#include <string>

#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

struct CLISessionConfig {
    // The shell of every session the system creates.
    static constexpr const char* defaultShell = "/bin/zsh";
    // "CLI #<number>": the title a new session gets when none is given.
    static std::string numberedTitle(std::size_t number);

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
