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

bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Letters, digits, "-" and "." in labels that neither start nor end with "-": no IP literal in
// brackets, no percent-encoding, nothing a resolver or proxy might read as another host.
bool isPlainHostName(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    for (auto label : GitOutputText::split(host, ".")) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        if (!std::all_of(label.begin(), label.end(), [](char c) { return isAsciiAlnum(c) || c == '-'; }))
            return false;
    }
    return true;
}

bool isPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    return std::stoi(std::string(port)) <= 65535;
}

// The user (and password) before a single "@": printable, without another "@" or anything that
// ends an authority.
bool isUserName(std::string_view user) {
    return !user.empty() && std::all_of(user.begin(), user.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f && c != '@' && c != '/' && c != '?' && c != '#' && c != '[' &&
               c != ']' && c != '\\';
    });
}

// GitHub's account and organisation names: letters, digits and "-", not starting with "-"; managed
// users add "_".
bool isOwnerName(std::string_view owner) {
    return !owner.empty() && owner.size() <= 100 && owner.front() != '-' &&
           std::all_of(owner.begin(), owner.end(),
                       [](char c) { return isAsciiAlnum(c) || c == '-' || c == '_'; });
}

// GitHub's repository names: letters, digits, "-", "_" and ".", never "." or "..".
bool isRepositoryName(std::string_view name) {
    return !name.empty() && name.size() <= 100 && name != "." && name != ".." &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return isAsciiAlnum(c) || c == '-' || c == '_' || c == '.'; });
}

}  // namespace

bool GitRemoteURL::isGitHubHost(std::string_view host, std::string_view gitHubHost) {
    if (host.empty() || gitHubHost.empty()) return false;
    std::string h = GitOutputText::lowercased(host);
    std::string g = GitOutputText::lowercased(gitHubHost);
    return h == g || (h.size() > g.size() && h.ends_with(g) && h[h.size() - g.size() - 1] == '.');
}

std::optional<RepositoryCoordinates> GitRemoteURL::parseGitHubRemoteURL(std::string_view url,
                                                                        std::string_view gitHubHost) {
    std::string_view text = GitOutputText::trimBlanks(url.substr(0, url.find_first_of("\r\n")));
    std::string_view path;
    if (std::size_t separator = text.find("://"); separator != std::string_view::npos) {
        std::string scheme = GitOutputText::lowercased(text.substr(0, separator));
        if (scheme != "ssh" && scheme != "http" && scheme != "https" && scheme != "git") return std::nullopt;
        std::string_view rest = text.substr(separator + 3);
        std::size_t pathStart = rest.find('/');
        if (pathStart == std::string_view::npos) return std::nullopt;
        std::string_view authority = rest.substr(0, pathStart);
        path = rest.substr(pathStart + 1);
        if (std::size_t at = authority.find('@'); at != std::string_view::npos) {
            if (!isUserName(authority.substr(0, at))) return std::nullopt;
            authority.remove_prefix(at + 1);
        }
        std::string_view host = authority;
        if (std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            if (!isPort(authority.substr(colon + 1))) return std::nullopt;
        }
        if (!isPlainHostName(host) || !isGitHubHost(host, gitHubHost)) return std::nullopt;
    } else {
        // scp-like, as git reads it: a colon before any slash, "[user@]host" before the colon.
        std::size_t colon = text.find(':');
        if (colon == std::string_view::npos || text.substr(0, colon).find('/') != std::string_view::npos)
            return std::nullopt;
        std::string_view host = text.substr(0, colon);
        if (std::size_t at = host.find('@'); at != std::string_view::npos) {
            if (!isUserName(host.substr(0, at))) return std::nullopt;
            host.remove_prefix(at + 1);
        }
        if (!isPlainHostName(host) || !isGitHubHost(host, gitHubHost)) return std::nullopt;
        path = text.substr(colon + 1);
        if (path.starts_with('/')) path.remove_prefix(1);
    }
    // "owner/name", "owner/name/" or "owner/name.git": nothing before, between or after.
    if (path.ends_with('/')) path.remove_suffix(1);
    std::size_t slash = path.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view owner = path.substr(0, slash);
    std::string_view name = path.substr(slash + 1);
    if (name.ends_with(".git")) name.remove_suffix(4);
    if (!isOwnerName(owner) || !isRepositoryName(name)) return std::nullopt;
    return RepositoryCoordinates{std::string(owner), std::string(name)};
}

std::string GitRemoteURL::hostOf(std::string_view url) {
    auto parts = splitURL(GitOutputText::trim(url));
    return parts ? GitOutputText::lowercased(parts->host) : std::string();
}

}  // namespace pelko
