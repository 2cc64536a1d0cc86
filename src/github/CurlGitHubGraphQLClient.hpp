#pragma once
// CurlGitHubGraphQLClient: GitHubGraphQLClient over CurlHttpTransport, posting to "<apiBase>/graphql"
// with 10 seconds for connecting and for any pause, 30 seconds in all. Stateless after construction;
// safe from any thread. An empty token is refused before any request is made.
#include "github/GitHubEndpoints.hpp"
#include "github/GitHubGraphQLClient.hpp"

namespace pelko {

class CurlGitHubGraphQLClient final : public GitHubGraphQLClient {
  public:
    explicit CurlGitHubGraphQLClient(const GitHubEndpoints& endpoints);

    Json execute(const std::string& query, const Json& variables, const std::string& token) const override;

  private:
    std::string endpoint_;
};

}  // namespace pelko
