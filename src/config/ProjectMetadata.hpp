#pragma once
// ProjectMetadata: one project open in the workspace, identified by `id`. `rootPath` is kept as
// written (it may start with "~" for the home folder); `rootFolder()` is the one rule by which every
// subsystem (files, explorer, terminal, Git, dashboard, preview tabs) turns it into a folder, so one
// configured root names one folder everywhere. `description` and `explorerExcludedPaths` are kept as
// read; nothing in the store changes them.
#include <filesystem>
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

    // The folder `rootPath` names: "~" and "~/..." expanded with XdgFolders::process().home (the only
    // home folder used for roots), made absolute against the working folder, normalised lexically
    // (no ".", ".." or doubled "/", no trailing "/"), then symbolic links resolved as far as the path
    // exists, the missing rest kept as written. Empty for an empty root. Nothing is cached: each call
    // looks at the file system, so a root that vanished and came back names its folder again.
    std::filesystem::path rootFolder() const { return resolveRootFolder(rootPath); }
    static std::filesystem::path resolveRootFolder(const std::string& rootPath);

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
