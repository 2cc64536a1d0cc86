#include "config/ProjectMetadata.hpp"

#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "platform/ProjectPath.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {

namespace {

// `path` (absolute, standardized) with its longest existing leading part replaced by its real path.
std::string resolvedAsFarAsExists(const std::string& path) {
    std::string existing = path;
    std::vector<std::string> missing;  // the components cut off, last first
    while (true) {
        if (char* real = ::realpath(existing.c_str(), nullptr)) {
            std::string result = real;
            ::free(real);
            for (auto part = missing.rbegin(); part != missing.rend(); ++part)
                result += (result.ends_with('/') ? "" : "/") + *part;
            return result;
        }
        std::size_t slash = existing.rfind('/');
        if (slash == std::string::npos || existing == "/") return path;
        missing.push_back(existing.substr(slash + 1));
        existing = slash == 0 ? "/" : existing.substr(0, slash);
    }
}

}  // namespace

std::filesystem::path ProjectMetadata::resolveRootFolder(const std::string& rootPath) {
    if (rootPath.empty()) return {};
    std::filesystem::path expanded = expandTilde(rootPath, XdgFolders::process().home);
    std::error_code error;
    if (expanded.is_relative()) expanded = std::filesystem::absolute(expanded, error);
    if (error) return {};
    return resolvedAsFarAsExists(ProjectPath::standardize(expanded.string()));
}

const std::vector<ProjectMetadata>& ProjectMetadata::samples() {
    // Fixed identifiers; the folders sit under a root that does not exist on any system.
    static const std::vector<ProjectMetadata> entries = [] {
        auto make = [](const char* id, const char* name, const char* folder, const char* description) {
            return ProjectMetadata{*Uuid::parse(id),
                                   name,
                                   std::string("/nonexistent/pelko-samples/") + folder,
                                   std::string(description),
                                   {}};
        };
        return std::vector<ProjectMetadata>{
            make("6B1D2C3E-0001-4A5B-9C7D-5A3E1F000001", "Sample Web App", "web-app",
                 "A sample project shown until you open a folder."),
            make("6B1D2C3E-0002-4A5B-9C7D-5A3E1F000002", "Sample API Service", "api-service",
                 "A sample project shown until you open a folder."),
            make("6B1D2C3E-0003-4A5B-9C7D-5A3E1F000003", "Sample Notes", "notes",
                 "A sample project shown until you open a folder."),
        };
    }();
    return entries;
}

bool ProjectMetadata::isSampleId(const Uuid& id) {
    const auto& entries = samples();
    return std::any_of(entries.begin(), entries.end(), [&](const ProjectMetadata& p) { return p.id == id; });
}

Json ProjectMetadata::toJson() const {
    Json object = Json::object();
    object["id"] = id.string();
    object["name"] = name;
    object["rootPath"] = rootPath;
    if (description) object["description"] = *description;
    object["explorerExcludedPaths"] = explorerExcludedPaths;
    return object;
}

ProjectMetadata ProjectMetadata::fromJson(const Json& value) {
    ProjectMetadata project;
    project.id = json::reqUuid(value, "id");
    project.name = json::reqString(value, "name");
    project.rootPath = json::reqString(value, "rootPath");
    project.description = json::optString(value, "description");
    if (const Json* paths = json::optArray(value, "explorerExcludedPaths")) {
        project.explorerExcludedPaths = json::asStringArray(*paths);
    }
    return project;
}

}  // namespace pelko
