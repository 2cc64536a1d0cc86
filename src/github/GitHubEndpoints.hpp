#pragma once
// GitHubEndpoints: where GitHub's services live. `oauthBase` serves "/login/oauth/authorize" and
// "/login/oauth/access_token"; `apiBase` serves the REST paths and "/graphql". Plain value; both are
// written without a trailing "/".
//
// The hosts are configuration: PELKO_GITHUB_OAUTH_BASE_URL and PELKO_GITHUB_API_BASE_URL replace the
// public hosts when set and not empty (tests point them at a loopback server).
#include <string>

namespace pelko {

class Environment;

struct GitHubEndpoints {
    std::string oauthBase = "https://github.com";
    std::string apiBase = "https://api.github.com";

    static GitHubEndpoints from(const Environment& environment);

    std::string authorizeURL() const { return oauthBase + "/login/oauth/authorize"; }
    std::string tokenURL() const { return oauthBase + "/login/oauth/access_token"; }
    std::string userURL() const { return apiBase + "/user"; }
    std::string graphQLURL() const { return apiBase + "/graphql"; }
};

}  // namespace pelko
