#include "git/GitHubWebOrigin.hpp"

#include <algorithm>
#include <cctype>

#include "git/GitOutputText.hpp"
#include "git/GitRemoteURL.hpp"

namespace pelko {

namespace {

int defaultPort(std::string_view scheme) {
    if (scheme == "https") return 443;
    if (scheme == "http") return 80;
    return 0;
}

bool isHostCharacter(unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-';
}

// scheme://[user@]host[:port], read strictly; nullopt for anything else.
std::optional<GitHubWebOrigin> split(std::string_view text) {
    std::size_t separator = text.find("://");
    if (separator == std::string_view::npos) return std::nullopt;
    std::string scheme = GitOutputText::lowercased(text.substr(0, separator));
    int port = defaultPort(scheme);
    if (port == 0) return std::nullopt;
    std::string_view rest = text.substr(separator + 3);
    // git and curl may split an address with these before its path differently.
    std::string_view authority = rest.substr(0, rest.find('/'));
    if (authority.find_first_of("%\\?#") != std::string_view::npos) return std::nullopt;
    if (std::size_t at = authority.find('@'); at != std::string_view::npos) {
        if (authority.find('@', at + 1) != std::string_view::npos) return std::nullopt;
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    if (std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        std::string_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) {
            return std::nullopt;
        }
        port = std::stoi(std::string(digits));
    }
    if (host.empty() || !std::all_of(host.begin(), host.end(), isHostCharacter)) return std::nullopt;
    return GitHubWebOrigin{std::move(scheme), GitOutputText::lowercased(host), port};
}

}  // namespace

std::optional<GitHubWebOrigin> GitHubWebOrigin::fromBase(std::string_view base) {
    return split(GitOutputText::trim(base));
}

bool GitHubWebOrigin::admits(std::string_view url) const {
    if (url.find_first_of(" \t\r\n") != std::string_view::npos) return false;
    auto parts = split(url);
    return parts && parts->scheme == scheme && parts->port == port &&
           GitRemoteURL::isGitHubHost(parts->host, host);
}

std::map<std::string, std::string> GitHubWebOrigin::environment() const {
    return {{"PELKO_GITHUB_SCHEME", scheme},
            {"PELKO_GITHUB_HOST", host},
            {"PELKO_GITHUB_PORT", std::to_string(port)}};
}

}  // namespace pelko
