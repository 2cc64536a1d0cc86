#include "github/GitHubOAuthHTTPClientError.hpp"

namespace pelko {
namespace {

const char* caseName(GitHubOAuthHTTPClientError::Code code) {
    using Code = GitHubOAuthHTTPClientError::Code;
    switch (code) {
        case Code::invalidConfiguration:
            return "invalidConfiguration";
        case Code::invalidResponse:
            return "invalidResponse";
        case Code::missingAccessToken:
            return "missingAccessToken";
        case Code::missingRefreshToken:
            return "missingRefreshToken";
        case Code::userFetchFailed:
            return "userFetchFailed";
    }
    return "invalidResponse";
}

}  // namespace

GitHubOAuthHTTPClientError::GitHubOAuthHTTPClientError(Code code)
    : std::runtime_error(caseName(code)), code_(code) {}

}  // namespace pelko
