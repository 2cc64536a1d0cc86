#include "github/GitHubEndpoints.hpp"

#include "platform/Environment.hpp"

namespace pelko {
namespace {

std::string withoutTrailingSlashes(std::string text) {
    while (!text.empty() && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace

GitHubEndpoints GitHubEndpoints::from(const Environment& environment) {
    GitHubEndpoints endpoints;
    if (auto base = environment.nonEmpty("PELKO_GITHUB_OAUTH_BASE_URL"))
        endpoints.oauthBase = withoutTrailingSlashes(*base);
    if (auto base = environment.nonEmpty("PELKO_GITHUB_API_BASE_URL"))
        endpoints.apiBase = withoutTrailingSlashes(*base);
    return endpoints;
}

}  // namespace pelko
