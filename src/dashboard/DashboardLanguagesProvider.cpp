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
#include "platform/CutText.hpp"

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

// A remote address may carry a user name and token before its host; the log gets it without them.
std::string withoutCredentials(const std::string& url) {
    std::size_t scheme = url.find("://");
    std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    std::size_t pathStart = url.find('/', start);
    std::size_t at = url.rfind('@', pathStart == std::string::npos ? std::string::npos : pathStart);
    if (at == std::string::npos || at < start) return url;
    return url.substr(0, start) + url.substr(at + 1);
}

// An error body as the log shows it: at most `loggedBodyLimit` bytes, cut at a character boundary and
// marked with the whole length; nothing when the part shown is not UTF-8 text.
std::string loggedBody(const std::string& body) {
    auto shown = CutText::shortened(body, DashboardLanguagesProvider::loggedBodyLimit);
    if (!g_utf8_validate(shown.data(), static_cast<gssize>(shown.size()), nullptr)) return {};
    return shown;
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
    const std::string slug = remote->owner + "/" + remote->name;
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
        default:
            logger_.error("dashboard.languages: HTTP " + std::to_string(response.status) + " for " + slug +
                          ": " + loggedBody(response.body));
            throw ProviderError(ProviderError::Code::httpError, response.status);
    }
}

std::optional<RepositoryCoordinates> DashboardLanguagesProvider::resolveRemote(
    const ProjectMetadata& project) {
    {
        std::lock_guard lock(remoteCacheLock_);
        if (auto found = remoteCache_.find(project.id); found != remoteCache_.end()) return found->second;
    }
    auto url = readRemoteURL(project);
    if (!url) return std::nullopt;
    auto parsed = GitRemoteURL::parseGitHubRemoteURL(*url, webHost_);
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

std::string DashboardLanguagesProvider::makeLanguagesURL(const std::string& apiBase,
                                                         const RepositoryCoordinates& coordinates) {
    return apiBase + "/repos/" + urlencoding::encode(coordinates.owner) + "/" +
           urlencoding::encode(coordinates.name) + "/languages";
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
