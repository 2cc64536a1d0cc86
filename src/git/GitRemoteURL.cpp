#include "git/GitRemoteURL.hpp"

#include <algorithm>
#include <cctype>
#include <vector>

#include "git/GitOutputText.hpp"

namespace pelko {

namespace {

struct URLParts {
    std::string scheme;  // lower case
    std::string host;    // without user and port
    std::string_view path;
};

// scheme://[user@]host[:port][/path]; nullopt for anything else.
std::optional<URLParts> splitURL(std::string_view text) {
    std::size_t separator = text.find("://");
    if (separator == std::string_view::npos || separator == 0) return std::nullopt;
    std::string_view scheme = text.substr(0, separator);
    if (!std::all_of(scheme.begin(), scheme.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; })) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(separator + 3);
    std::size_t pathStart = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, pathStart);
    std::string_view path = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = authority;
    if (host.starts_with('[')) {
        std::size_t close = host.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = host.substr(1, close - 1);
    } else if (std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        host = host.substr(0, colon);
    }
    if (std::size_t end = path.find_first_of("?#"); end != std::string_view::npos) path = path.substr(0, end);
    return URLParts{GitOutputText::lowercased(scheme), std::string(host), path};
}

}  // namespace

std::map<std::string, std::string> GitRemoteURL::remotesFromConfig(std::string_view configText) {
    std::map<std::string, std::string> remotes;
    std::optional<std::string> current;
    for (auto rawLine : GitOutputText::split(configText, "\n")) {
        std::string_view line = GitOutputText::trimBlanks(rawLine);
        if (line.ends_with('\r')) line = GitOutputText::trimBlanks(line.substr(0, line.size() - 1));
        if (line.starts_with('[')) {
            // Any section header ends the remote section before it.
            current.reset();
            if (GitOutputText::lowercased(line.substr(0, std::min<std::size_t>(line.size(), 8))) ==
                "[remote ") {
                std::size_t open = line.find('"');
                std::size_t close = open == std::string_view::npos ? open : line.find('"', open + 1);
                if (close != std::string_view::npos)
                    current = std::string(line.substr(open + 1, close - open - 1));
            }
            continue;
        }
        if (!current || current->empty()) continue;
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        if (GitOutputText::lowercased(GitOutputText::trimBlanks(line.substr(0, equals))) != "url") continue;
        std::string_view value = GitOutputText::trimBlanks(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (!value.empty()) remotes[*current] = std::string(value);
    }
    return remotes;
}

bool GitRemoteURL::isGitHubHost(std::string_view host, std::string_view gitHubHost) {
    if (host.empty() || gitHubHost.empty()) return false;
    std::string h = GitOutputText::lowercased(host);
    std::string g = GitOutputText::lowercased(gitHubHost);
    return h == g || (h.size() > g.size() && h.ends_with(g) && h[h.size() - g.size() - 1] == '.');
}

bool GitRemoteURL::requiresGitHubOAuth(std::string_view url, std::string_view gitHubHost) {
    auto parts = splitURL(GitOutputText::trim(url));
    if (!parts || (parts->scheme != "http" && parts->scheme != "https")) return false;
    return isGitHubHost(parts->host, gitHubHost);
}

std::optional<RepositoryCoordinates> GitRemoteURL::parseGitHubRemoteURL(std::string_view url,
                                                                        std::string_view gitHubHost) {
    std::string_view text = url.substr(0, url.find_first_of("\r\n"));
    text = GitOutputText::trimBlanks(text);
    while (text.ends_with('/')) text.remove_suffix(1);
    if (text.ends_with(".git")) text.remove_suffix(4);

    if (text.find("://") != std::string_view::npos) {
        auto parts = splitURL(text);
        if (!parts || !isGitHubHost(parts->host, gitHubHost)) return std::nullopt;
        if (parts->scheme != "ssh" && parts->scheme != "http" && parts->scheme != "https" &&
            parts->scheme != "git") {
            return std::nullopt;
        }
        return sanitizeRepositoryPath(parts->path);
    }
    // scp-like: [user@]host:path, the host part holding no "/".
    std::size_t colon = text.find(':');
    std::size_t slash = text.find('/');
    if (colon != std::string_view::npos && (slash == std::string_view::npos || colon < slash)) {
        std::string_view host = text.substr(0, colon);
        if (std::size_t at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
        if (!isGitHubHost(host, gitHubHost)) return std::nullopt;
        return sanitizeRepositoryPath(text.substr(colon + 1));
    }
    // host/owner/name without a scheme.
    if (slash == std::string_view::npos || !isGitHubHost(text.substr(0, slash), gitHubHost))
        return std::nullopt;
    return sanitizeRepositoryPath(text.substr(slash + 1));
}

std::string GitRemoteURL::hostOf(std::string_view url) {
    auto parts = splitURL(GitOutputText::trim(url));
    return parts ? GitOutputText::lowercased(parts->host) : std::string();
}

std::optional<RepositoryCoordinates> GitRemoteURL::sanitizeRepositoryPath(std::string_view path) {
    std::vector<std::string_view> parts;
    for (auto part : GitOutputText::split(path, "/")) {
        if (!part.empty()) parts.push_back(part);
    }
    if (parts.size() < 2) return std::nullopt;
    return RepositoryCoordinates{std::string(parts[parts.size() - 2]), std::string(parts.back())};
}

}  // namespace pelko
