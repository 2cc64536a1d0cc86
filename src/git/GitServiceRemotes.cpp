// GitService: which remote git will contact and at which addresses, as git itself says; never from
// our own reading of the repository's files.
#include <algorithm>

#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "git/GitService.hpp"

namespace pelko {

std::optional<std::string> GitService::configValue(const std::string& key, const ProjectMetadata& project) {
    auto result = runGit({"config", "--get", key}, project, false, true);
    if (!result.ok()) return std::nullopt;
    std::string_view value = GitOutputText::trim(result.value());
    if (value.empty()) return std::nullopt;
    return std::string(value);
}

std::optional<std::string> GitService::currentBranch(const ProjectMetadata& project) {
    auto result = runGit({"symbolic-ref", "--quiet", "HEAD"}, project, false, true);
    if (!result.ok()) return std::nullopt;
    if (!GitOutputText::trim(result.value()).starts_with("refs/heads/")) return std::nullopt;
    std::string branch = GitCurrentBranch::shortName(result.value());
    if (branch.empty()) return std::nullopt;
    return branch;
}

std::optional<std::string> GitService::remoteName(const ProjectMetadata& project, bool forPush) {
    auto branch = currentBranch(project);
    std::optional<std::string> name;
    if (forPush && branch) name = configValue("branch." + *branch + ".pushRemote", project);
    if (forPush && !name) name = configValue("remote.pushDefault", project);
    if (!name && branch) name = configValue("branch." + *branch + ".remote", project);
    if (!name) {
        // As git: the only remote there is, else "origin".
        auto listed = runGit({"remote"}, project, false, true);
        auto names =
            listed.ok() ? GitOutputText::nonEmptyLines(listed.value()) : std::vector<std::string_view>{};
        name = names.size() == 1 ? std::string(GitOutputText::trim(names.front())) : "origin";
    }
    return name;
}

std::vector<std::string> GitService::remoteURLs(const std::string& name, const ProjectMetadata& project,
                                                bool forPush) {
    // A name that reads as an option never reaches a command line.
    if (name.empty() || name.starts_with('-')) return {};
    std::vector<std::string> arguments{"remote", "get-url", "--all"};
    if (forPush) arguments.push_back("--push");
    arguments.insert(arguments.end(), {"--", name});
    auto result = runGit(arguments, project, false, true);
    if (!result.ok()) return {};
    std::vector<std::string> urls;
    for (auto line : GitOutputText::nonEmptyLines(result.value()))
        urls.emplace_back(GitOutputText::trim(line));
    return urls;
}

std::optional<GitService::Remote> GitService::remoteToContact(const ProjectMetadata& project, bool forPush) {
    auto name = remoteName(project, forPush);
    if (!name) return std::nullopt;
    auto urls = remoteURLs(*name, project, forPush);
    if (urls.empty()) return std::nullopt;
    return Remote{*name, std::move(urls)};
}

bool GitService::isGitHubOnly(const Remote& remote) const {
    return gitHubOrigin_ && std::all_of(remote.urls.begin(), remote.urls.end(),
                                        [&](const std::string& url) { return gitHubOrigin_->admits(url); });
}

bool GitService::certificatesChecked(const Remote& remote, const ProjectMetadata& project) {
    auto configured = [&](std::vector<std::string> arguments, const std::string& url) {
        arguments.push_back(url);
        auto result = runGit(arguments, project, false, true);
        if (!result.ok()) return std::optional<std::string>();
        return std::optional<std::string>(GitOutputText::trim(result.value()));
    };
    return std::none_of(remote.urls.begin(), remote.urls.end(), [&](const std::string& url) {
        return configured({"config", "--type=bool", "--get-urlmatch", "http.sslVerify"}, url) == "false" ||
               configured({"config", "--local", "--includes", "--get-urlmatch", "http.sslCAInfo"}, url) ||
               configured({"config", "--local", "--includes", "--get-urlmatch", "http.sslCAPath"}, url);
    });
}

std::optional<std::string> GitService::remoteURL(const ProjectMetadata& project,
                                                 const std::optional<std::string>& preferredRemote) {
    auto firstURL = [&](const std::optional<std::string>& name) -> std::optional<std::string> {
        if (!name) return std::nullopt;
        auto urls = remoteURLs(*name, project, false);
        if (urls.empty()) return std::nullopt;
        return urls.front();
    };
    if (auto url = firstURL(preferredRemote)) return url;
    if (auto url = firstURL("origin")) return url;
    if (auto branch = currentBranch(project)) {
        if (auto url = firstURL(configValue("branch." + *branch + ".remote", project))) return url;
    }
    return firstURL(configValue("remote.pushDefault", project));
}

std::optional<RepositoryCoordinates> GitService::parseGitHubRemoteURL(const std::string& text) const {
    return GitRemoteURL::parseGitHubRemoteURL(text, gitHubHost_);
}

}  // namespace pelko
