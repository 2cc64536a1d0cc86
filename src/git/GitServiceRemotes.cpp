// GitService: finding a project's remote and whether it is a GitHub one.
#include <fstream>
#include <sstream>

#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "git/GitService.hpp"

namespace pelko {

namespace {

std::optional<std::string> readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return buffer.str();
}

// The repository's configuration file. `.git` is a folder in an ordinary checkout; in a linked
// worktree or a submodule checkout it is a file naming the git folder, and a worktree's git folder
// names the common one (which holds the configuration) in "commondir".
std::optional<std::filesystem::path> configFile(const std::filesystem::path& root) {
    std::error_code error;
    std::filesystem::path dotGit = root / ".git";
    if (std::filesystem::is_directory(dotGit, error)) return dotGit / "config";
    auto pointer = readText(dotGit);
    if (!pointer) return std::nullopt;
    std::string_view line = GitOutputText::trim(*pointer);
    if (!line.starts_with("gitdir:")) return std::nullopt;
    std::filesystem::path gitDir(std::string(GitOutputText::trim(line.substr(7))));
    if (gitDir.is_relative()) gitDir = root / gitDir;
    if (auto common = readText(gitDir / "commondir")) {
        std::filesystem::path commonDir(std::string(GitOutputText::trim(*common)));
        return (commonDir.is_relative() ? gitDir / commonDir : commonDir) / "config";
    }
    return gitDir / "config";
}

}  // namespace

std::map<std::string, std::string> GitService::remoteURLsFromConfig(const ProjectMetadata& project) const {
    auto path = configFile(folder(project));
    if (!path) return {};
    auto text = readText(*path);
    if (!text) return {};
    return GitRemoteURL::remotesFromConfig(*text);
}

std::optional<std::string> GitService::upstreamRemoteName(const ProjectMetadata& project) {
    auto result = runGit(GitCurrentBranch::upstreamArguments, project, false, true);
    if (!result.ok()) return std::nullopt;
    std::string upstream = GitCurrentBranch::shortName(result.value());
    std::size_t slash = upstream.find('/');
    if (slash == std::string::npos || slash == 0) return std::nullopt;
    return upstream.substr(0, slash);
}

std::optional<std::string> GitService::pushDefaultRemoteName(const ProjectMetadata& project) {
    auto result = runGit({"config", "--get", "remote.pushDefault"}, project, false, true);
    if (!result.ok()) return std::nullopt;
    std::string_view name = GitOutputText::trim(result.value());
    if (name.empty()) return std::nullopt;
    return std::string(name);
}

std::optional<std::string> GitService::remoteURLUsingGit(const std::string& name,
                                                         const ProjectMetadata& project) {
    if (name.empty()) return std::nullopt;
    auto result = runGit({"config", "--get", "remote." + name + ".url"}, project, false, true);
    if (!result.ok()) return std::nullopt;
    std::string_view url = GitOutputText::trim(result.value());
    if (url.empty()) return std::nullopt;
    return std::string(url);
}

std::optional<std::string> GitService::remoteURL(const ProjectMetadata& project,
                                                 const std::optional<std::string>& preferredRemote) {
    auto remotes = remoteURLsFromConfig(project);
    auto fromConfig = [&](const std::string& name) -> std::optional<std::string> {
        auto found = remotes.find(name);
        if (found == remotes.end() || found->second.empty()) return std::nullopt;
        return found->second;
    };
    if (preferredRemote) {
        if (auto url = fromConfig(*preferredRemote)) return url;
    }
    if (remotes.empty()) return std::nullopt;
    if (auto url = fromConfig("origin")) return url;
    auto byName = [&](const std::optional<std::string>& name) -> std::optional<std::string> {
        if (!name) return std::nullopt;
        if (auto url = fromConfig(*name)) return url;
        return remoteURLUsingGit(*name, project);
    };
    if (auto url = byName(upstreamRemoteName(project))) return url;
    if (auto url = byName(pushDefaultRemoteName(project))) return url;
    return remoteURLUsingGit("origin", project);
}

bool GitService::requiresGitHubOAuth(const std::optional<std::string>& remoteURL) const {
    return remoteURL && GitRemoteURL::requiresGitHubOAuth(*remoteURL, options_.gitHubWebHost);
}

std::optional<RepositoryCoordinates> GitService::parseGitHubRemoteURL(const std::string& text) const {
    return GitRemoteURL::parseGitHubRemoteURL(text, options_.gitHubWebHost);
}

}  // namespace pelko
