#pragma once
// GitHubWebOrigin: the scheme, host and port of GitHub's web host, and whether a URL git will contact
// is GitHub's. Plain value; safe from any thread.
//
// A URL is GitHub's only when its scheme and port equal GitHub's and its host is GitHub's host or one
// of its subdomains. Only the plain form scheme://[user@]host[:port][/path] is read: anything with a
// second "@", or a "%", "\", "?" or "#" before the path, or a host of other characters is not
// GitHub's, so no reading of a URL that differs from git's or curl's makes another host look like
// GitHub.
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

struct GitHubWebOrigin {
    std::string scheme;  // lower case: "https" or "http"
    std::string host;    // lower case
    int port = 0;

    // From a base address such as "https://github.com" or "http://127.0.0.1:8080"; nullopt when it is
    // not an http(s) address of that plain form.
    static std::optional<GitHubWebOrigin> fromBase(std::string_view base);

    // Whether `url` is GitHub's (same scheme and port, the host or a subdomain of it).
    bool admits(std::string_view url) const;

    // What the credential helper compares each request with: PELKO_GITHUB_SCHEME, PELKO_GITHUB_HOST and
    // PELKO_GITHUB_PORT.
    std::map<std::string, std::string> environment() const;
};

}  // namespace pelko
