#pragma once
// GitHubGraphQLClientError: why a GraphQL query gave no data. Each case has its own (Japanese)
// description; `graphqlErrors` is described by GitHub's error messages joined with line feeds.
#include <stdexcept>
#include <string>
#include <vector>

namespace pelko {

class GitHubGraphQLClientError : public std::runtime_error {
  public:
    enum class Code { graphqlErrors, invalidURL, invalidResponse, unauthorized, emptyData };

    explicit GitHubGraphQLClientError(Code code, std::vector<std::string> messages = {});
    Code code() const { return code_; }
    const std::vector<std::string>& messages() const { return messages_; }
    std::string errorDescription() const { return what(); }

  private:
    static std::string describe(Code code, const std::vector<std::string>& messages);
    Code code_;
    std::vector<std::string> messages_;
};

}  // namespace pelko
