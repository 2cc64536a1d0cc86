#pragma once
// GitHubOAuthHTTPClientError: why a token request or the user lookup failed. It has no text of its
// own: its description is the case name, such as "missingRefreshToken". It never carries a response
// body or a parser message (either can hold token bytes).
#include <stdexcept>

namespace pelko {

class GitHubOAuthHTTPClientError : public std::runtime_error {
  public:
    enum class Code {
        invalidConfiguration,
        invalidResponse,
        missingAccessToken,
        missingRefreshToken,
        userFetchFailed
    };

    explicit GitHubOAuthHTTPClientError(Code code);
    Code code() const { return code_; }

  private:
    Code code_;
};

}  // namespace pelko
