// GitService: which remote git will contact and at which addresses, as git itself says; never from
// our own reading of the repository's files.
#include <algorithm>
#include <string_view>

#include "git/GitCurrentBranch.hpp"
#include "git/GitOutputText.hpp"
#include "git/GitService.hpp"

namespace pelko {

namespace {

// The settings that decide where git connects for an https URL and whom it trusts there, as git spells
// their names (section and key in lower case, a URL or remote name between): the authorities, the
// addresses names resolve to, the proxy and the authorities for it. Client certificates, TLS versions
// and ciphers and pinned keys decide neither: whoever answers must still prove to be GitHub to the
// authorities the user trusts.
constexpr const char* connectionSettings =
    R"(^(http\.(.+\.)?(sslcainfo|sslcapath|curloptresolve|proxy|proxysslcainfo)|remote\..+\.proxy)$)";
// Far more names than any configuration holds; a listing past it offers no token.
constexpr std::size_t connectionSettingsLimit = 1 << 20;

// "remote.<name>.proxy" for a remote other than `name`.
bool isAnotherRemotesProxy(std::string_view key, const std::string& name) {
    constexpr std::string_view prefix = "remote.", suffix = ".proxy";
    if (!key.starts_with(prefix) || !key.ends_with(suffix) || key.size() < prefix.size() + suffix.size())
        return false;
    return key.substr(prefix.size(), key.size() - prefix.size() - suffix.size()) != name;
}

}  // namespace

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

bool GitService::connectionLeftToUser(const Remote& remote, const ProjectMetadata& project) {
    bool verified = std::none_of(remote.urls.begin(), remote.urls.end(), [&](const std::string& url) {
        auto result =
            runGit({"config", "--type=bool", "--get-urlmatch", "http.sslVerify", url}, project, false, true);
        return result.ok() && GitOutputText::trim(result.value()) == "false";
    });
    if (!verified) return false;

    // Every setting, for any URL, that names authorities, resolves a name or picks a proxy, with the
    // scope git read it in; an included file has the scope of the file that includes it.
    GitProcessLimits limits;
    limits.maxStdout = connectionSettingsLimit;
    auto listed = processRunner_->runWithin({"git", "config", "-z", "--name-only", "--show-scope",
                                             "--includes", "--get-regexp", connectionSettings},
                                            folder(project), baseEnvironment(true), limits);
    if (listed.status == 1 && listed.stdout.empty()) return true;  // none anywhere
    if (listed.status != 0 || listed.stdoutOverLimit) return false;
    std::string_view rest = listed.stdout;
    while (!rest.empty()) {
        std::size_t scopeEnd = rest.find('\0');
        std::size_t keyEnd = scopeEnd == std::string_view::npos ? scopeEnd : rest.find('\0', scopeEnd + 1);
        if (keyEnd == std::string_view::npos) return false;
        std::string_view scope = rest.substr(0, scopeEnd);
        std::string_view key = rest.substr(scopeEnd + 1, keyEnd - scopeEnd - 1);
        rest.remove_prefix(keyEnd + 1);
        // The user's, the system's, and what the environment we were started with adds
        // (GIT_CONFIG_PARAMETERS); any other scope is the repository's.
        if (scope == "system" || scope == "global" || scope == "command") continue;
        if (isAnotherRemotesProxy(key, remote.name)) continue;
        return false;
    }
    return true;
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
