#pragma once
// AppConfig: the whole workspace configuration as one value (projects in display order, the active
// project, the column layout, the CLI sessions, the feature flags and the projects to resume), with
// its "config.json" form.
//
// Writing gives keys in field order and leaves out what is written only when present; reading is
// strict (a wrong type, a missing required key, a bad UUID or an unknown feature or column text
// rejects the whole value) and ignores unknown keys. Plain value: copied on assignment, compared
// field by field.
#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/CLISessionConfig.hpp"
#include "config/ColumnLayout.hpp"
#include "config/ProjectMetadata.hpp"
#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

struct AppConfig {
    enum class Feature { terminalV2, terminalDebugDump };
    static constexpr std::array<Feature, 2> allFeatures{Feature::terminalV2, Feature::terminalDebugDump};
    static std::string_view featureText(Feature feature);  // "terminal.v2", "terminal.debugDump"
    // Throws DecodeError for any other text.
    static Feature featureFromText(std::string_view text);

    std::set<Feature> enabledFeatures;
    std::vector<ProjectMetadata> projects;
    std::optional<Uuid> activeProjectID;
    ColumnLayout columnLayout;
    std::vector<CLISessionConfig> cliSessions;
    std::vector<ProjectMetadata> resumeProjects;
    // Only read from files of an earlier layout ("lastOpenedProjectIDs") and written back as read.
    std::optional<std::vector<Uuid>> legacyLastOpenedProjectIDs;

    // The sample projects, the first one active, one session "CLI #1" in `homePath` belonging to it,
    // the default column order, no features.
    static AppConfig builtInDefault(const std::string& homePath);

    // Root keys "projects", "activeProjectID" (null when absent), "columnLayout", "cliSessions",
    // "features" (when not empty), "resumeProjects" (when not empty), "lastOpenedProjectIDs" (when
    // present).
    Json toJson() const;
    // Throws DecodeError. A missing "cliSessions" yields one session "CLI #1" in `homePath`; a missing
    // "activeProjectID" falls back to the first legacy identifier.
    static AppConfig fromJson(const Json& value, const std::string& homePath);

    // The normalised copy: no sample projects, a valid active project, a resume list, a column order,
    // no sessions of vanished projects, working directories filled in, "terminal.v2" switched on.
    AppConfig ensuringDefaults(const std::string& homePath) const;

    friend bool operator==(const AppConfig&, const AppConfig&) = default;
};

// The folder a CLI session starts in: the project's root folder (ProjectMetadata::rootFolder), or
// `homePath` when there is no identifier or no such project.
std::string cliWorkingDirectory(const std::optional<Uuid>& projectId,
                                const std::vector<ProjectMetadata>& projects, const std::string& homePath);

}  // namespace pelko
