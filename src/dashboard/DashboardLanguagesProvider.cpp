#include "dashboard/DashboardLanguagesProvider.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "dashboard/DashboardGitCommand.hpp"
#include "git/GitOutputText.hpp"
#include "git/GitRemoteURL.hpp"
#include "github/CurlHttpTransport.hpp"
#include "github/UrlEncoding.hpp"

namespace pelko {

namespace {

std::string describe(DashboardLanguagesProvider::ProviderError::Code code, long status) {
    using Code = DashboardLanguagesProvider::ProviderError::Code;
    switch (code) {
        case Code::httpError:
            return "httpError(code: " + std::to_string(status) + ")";
        case Code::unableToResolveRemote:
            return "unableToResolveRemote";
        case Code::invalidResponse:
            return "invalidResponse";
        case Code::unauthorized:
            return "unauthorized";
    }
    return "invalidResponse";
}

std::vector<std::string> nonEmptyParts(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Splits once at the first `separator`, dropping empty parts.
std::vector<std::string> splitOnce(const std::string& text, char separator) {
    std::size_t at = text.find(separator);
    if (at == std::string::npos) return text.empty() ? std::vector<std::string>{} : std::vector{text};
    std::vector<std::string> parts;
    for (auto part : {text.substr(0, at), text.substr(at + 1)}) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

// A "." or ".." would be collapsed by URL normalisation and send the request, token included, to
// another API path.
std::optional<DashboardLanguagesProvider::RepositoryCoordinates> coordinates(
    const std::vector<std::string>& parts) {
    if (parts.size() < 2) return std::nullopt;
    for (std::size_t i = 0; i < 2; ++i) {
        if (parts[i] == "." || parts[i] == "..") return std::nullopt;
    }
    return DashboardLanguagesProvider::RepositoryCoordinates{parts[0], parts[1]};
}

// The host and decoded path of an absolute address with an authority; nothing for other texts.
std::optional<std::pair<std::string, std::string>> hostAndPath(const std::string& text) {
    gchar* scheme = nullptr;
    gchar* host = nullptr;
    gchar* path = nullptr;
    bool parsed = g_uri_split(text.c_str(), G_URI_FLAGS_NONE, &scheme, nullptr, &host, nullptr, &path,
                              nullptr, nullptr, nullptr);
    std::optional<std::pair<std::string, std::string>> result;
    if (parsed && scheme && host && *host) result.emplace(host, path ? path : "");
    g_free(scheme);
    g_free(host);
    g_free(path);
    return result;
}

// A remote address may carry a user name and token before its host; the log gets it without them.
std::string withoutCredentials(const std::string& url) {
    std::size_t scheme = url.find("://");
    std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    std::size_t pathStart = url.find('/', start);
    std::size_t at = url.rfind('@', pathStart == std::string::npos ? std::string::npos : pathStart);
    if (at == std::string::npos || at < start) return url;
    return url.substr(0, start) + url.substr(at + 1);
}

std::int64_t clampedCount(const Json& value) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    if (value.is_number_unsigned()) {
        auto count = value.get<std::uint64_t>();
        return count > static_cast<std::uint64_t>(max) ? max : static_cast<std::int64_t>(count);
    }
    if (value.is_number_integer()) return std::max<std::int64_t>(value.get<std::int64_t>(), 0);
    double number = std::trunc(value.get<double>());
    if (!(number > 0)) return 0;
    // 2^63 itself does not fit; the range check comes before the conversion.
    return number >= 9223372036854775808.0 ? max : static_cast<std::int64_t>(number);
}

}  // namespace

DashboardLanguagesProvider::ProviderError::ProviderError(Code code, long httpStatus)
    : std::runtime_error(describe(code, httpStatus)), code_(code), httpStatus_(httpStatus) {}

DashboardLanguagesProvider::DashboardLanguagesProvider(std::shared_ptr<GitAuthProviding> authProvider,
                                                       std::shared_ptr<GitProcessRunning> processRunner,
                                                       GitHubEndpoints endpoints, SystemLogger logger)
    : authProvider_(std::move(authProvider)),
      processRunner_(std::move(processRunner)),
      endpoints_(std::move(endpoints)),
      webHost_(GitRemoteURL::hostOf(endpoints_.oauthBase)),
      logger_(std::move(logger)) {}

LanguageByteCounts DashboardLanguagesProvider::fetchLanguages(const ProjectMetadata& project) {
    auto remote = resolveRemote(project);
    if (!remote) {
        logger_.debug("dashboard.languages: remote not resolved for " + project.name);
        throw ProviderError(ProviderError::Code::unableToResolveRemote);
    }
    const std::string slug = remote->owner + "/" + remote->repository;
    auto token = authProvider_->loadToken();
    if (!token || token->accessToken.empty()) {
        logger_.debug("dashboard.languages: skipping fetch for " + slug + " due to missing token");
        return {};
    }
    CurlHttpTransport::Request request;
    request.url = makeLanguagesURL(endpoints_.apiBase, *remote);
    request.headers = {{"Authorization", "Bearer " + token->accessToken},
                       {"Accept", "application/vnd.github+json"}};
    request.idleTimeout = std::chrono::seconds(60);
    auto response = CurlHttpTransport::send(request);
    switch (response.status) {
        case 200:
            return decodeLanguagesResponse(response.body);
        case 401:
        case 403:
            logger_.error("dashboard.languages: unauthorized for " + slug +
                          ", status=" + std::to_string(response.status));
            throw ProviderError(ProviderError::Code::unauthorized);
        case 404:
            logger_.notice("dashboard.languages: repository not found for " + slug);
            return {};
        default: {
            bool utf8 =
                g_utf8_validate(response.body.data(), static_cast<gssize>(response.body.size()), nullptr);
            logger_.error("dashboard.languages: HTTP " + std::to_string(response.status) + " for " + slug +
                          ": " + (utf8 ? response.body : std::string()));
            throw ProviderError(ProviderError::Code::httpError, response.status);
        }
    }
}

std::optional<DashboardLanguagesProvider::RepositoryCoordinates> DashboardLanguagesProvider::resolveRemote(
    const ProjectMetadata& project) {
    {
        std::lock_guard lock(remoteCacheLock_);
        if (auto found = remoteCache_.find(project.id); found != remoteCache_.end()) return found->second;
    }
    auto url = readRemoteURL(project);
    if (!url) return std::nullopt;
    auto parsed = parseRemoteURL(*url, webHost_);
    if (!parsed) {
        logger_.notice("dashboard.languages: unsupported remote URL " + withoutCredentials(*url));
        return std::nullopt;
    }
    std::lock_guard lock(remoteCacheLock_);
    remoteCache_[project.id] = *parsed;
    return parsed;
}

std::optional<std::string> DashboardLanguagesProvider::readRemoteURL(const ProjectMetadata& project) {
    auto folder = dashboard_git::projectFolder(project);
    auto result = dashboard_git::run(*processRunner_, {"remote", "get-url", "origin"}, folder);
    if (result.status != 0) {
        result = dashboard_git::run(*processRunner_, {"config", "--get", "remote.origin.url"}, folder);
        if (result.status != 0) return std::nullopt;
    }
    return std::string(GitOutputText::trim(result.stdout));
}

std::optional<DashboardLanguagesProvider::RepositoryCoordinates> DashboardLanguagesProvider::parseRemoteURL(
    const std::string& url, std::string_view webHost) {
    std::string text(GitOutputText::trim(url));
    if (text.size() >= 4 && text.ends_with(".git")) text.resize(text.size() - 4);

    if (auto address = hostAndPath(text)) {
        if (GitRemoteURL::isGitHubHost(address->first, webHost))
            return coordinates(nonEmptyParts(address->second, '/'));
    }
    if (text.find('@') != std::string::npos && text.find(':') != std::string::npos) {
        auto atParts = splitOnce(text, '@');
        if (atParts.size() != 2) return std::nullopt;
        auto hostParts = splitOnce(atParts[1], ':');
        if (hostParts.size() != 2 || !GitRemoteURL::isGitHubHost(hostParts[0], webHost)) return std::nullopt;
        return coordinates(nonEmptyParts(hostParts[1], '/'));
    }
    const std::string prefix = GitOutputText::lowercased(webHost) + "/";
    if (!webHost.empty() && GitOutputText::lowercased(text.substr(0, prefix.size())) == prefix) {
        return coordinates(nonEmptyParts(text.substr(prefix.size()), '/'));
    }
    return std::nullopt;
}

std::string DashboardLanguagesProvider::makeLanguagesURL(const std::string& apiBase,
                                                         const RepositoryCoordinates& coordinates) {
    return apiBase + "/repos/" + urlencoding::encode(coordinates.owner) + "/" +
           urlencoding::encode(coordinates.repository) + "/languages";
}

LanguageByteCounts DashboardLanguagesProvider::decodeLanguagesResponse(const std::string& body) {
    auto parsed = json::parse(body);
    if (!parsed || !parsed->is_object()) throw ProviderError(ProviderError::Code::invalidResponse);
    LanguageByteCounts languages;
    for (const auto& [name, value] : parsed->items()) {
        if (value.is_number()) languages[name] = clampedCount(value);
    }
    return languages;
}

}  // namespace pelko
