#pragma once
// GitHubGraphQLClient: runs one GraphQL document against GitHub with a bearer token.
//
// `execute` blocks the calling thread until the answer or the time-out and returns the answer's
// "data" member for the caller to decode. It throws GitHubGraphQLClientError (no token, refused token,
// GraphQL errors, no data, an unusable answer) or HttpTransportError; a decoding error of the caller's
// own result stays the caller's. Implementations hold no mutable state and may be used from several
// threads at once; they never log and never retry.
#include <string>

#include "platform/Json.hpp"

namespace pelko {

class GitHubGraphQLClient {
  public:
    virtual ~GitHubGraphQLClient() = default;
    virtual Json execute(const std::string& query, const Json& variables, const std::string& token) const = 0;
};

}  // namespace pelko
