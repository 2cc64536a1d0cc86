#pragma once
// GitRemoteURL: what the Git service reads from remote URLs. Pure functions; safe from any thread.
//
// A GitHub host is the configured web host itself or one of its subdomains; a host that merely
// contains that text (github.com.evil.example, notgithub.com) is not GitHub.
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

struct RepositoryCoordinates {
    std::string owner;
    std::string name;  // without ".git"

    friend bool operator==(const RepositoryCoordinates&, const RepositoryCoordinates&) = default;
};

struct GitRemoteURL {
    // Owner and name of a GitHub remote: "ssh|git|http|https://[user@]host[:port]/o/r" or, without a
    // scheme, scp-like "[user@]host:o/r"; a trailing "/" and ".git" are dropped. Refused (nullopt):
    // another host, more than one "@" before the host, a host that is not a plain name, a port that
    // is not a number, a text without scheme that is not scp-like ("host/o/r" is a local path to
    // git), a path of other than two parts, and owner or name outside GitHub's characters.
    // The one reading of remotes for the Git service and the dashboard.
    static std::optional<RepositoryCoordinates> parseGitHubRemoteURL(std::string_view url,
                                                                     std::string_view gitHubHost);
    // True when `host` is `gitHubHost` or one of its subdomains, compared without regard to case.
    static bool isGitHubHost(std::string_view host, std::string_view gitHubHost);
    // The lower-case host of a URL such as "https://github.com" (no user, no port); "" when unreadable.
    static std::string hostOf(std::string_view url);
};

}  // namespace pelko
