#pragma once
// ProjectMetadata: one project open in the workspace, identified by `id`. `rootPath` may start with
// "~" for the home folder; whoever needs the real folder expands it. `description` and
// `explorerExcludedPaths` are kept as read; nothing in the store changes them.
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.hpp"
#include "platform/Uuid.hpp"

namespace pelko {

struct ProjectMetadata {
    Uuid id;
    std::string name;
    std::string rootPath;
    std::optional<std::string> description;
    std::vector<std::string> explorerExcludedPaths;

    // The three fixed entries of the built-in default configuration. Their folders never exist, so
    // nothing ever watches or walks a real folder for them.
    static const std::vector<ProjectMetadata>& samples();
    static bool isSampleId(const Uuid& id);

    // Keys "id", "name", "rootPath", "description" (only when present), "explorerExcludedPaths".
    Json toJson() const;
    // Throws DecodeError for a missing "id", "name" or "rootPath", a bad UUID or a wrong type.
    static ProjectMetadata fromJson(const Json& value);

    friend bool operator==(const ProjectMetadata&, const ProjectMetadata&) = default;
};

}  // namespace pelko
