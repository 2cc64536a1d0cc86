#pragma once
// GitHubOAuthCoordinatorDelegate: how the sign-in coordinator reports the end of a sign-in.
//
// Called on the thread of the browser-session callback, once per started sign-in, after the new token
// has been stored (success) or with the error's description (failure). The coordinator holds its
// delegate weakly.
#include <string>

#include "github/OAuthTokenRecord.hpp"

namespace pelko {

class GitHubOAuthCoordinating;

class GitHubOAuthCoordinatorDelegate {
  public:
    virtual ~GitHubOAuthCoordinatorDelegate() = default;
    virtual void gitHubOAuthCoordinatorDidComplete(GitHubOAuthCoordinating& coordinator,
                                                   const OAuthTokenRecord& record) = 0;
    virtual void gitHubOAuthCoordinatorDidFail(GitHubOAuthCoordinating& coordinator,
                                               const std::string& errorDescription) = 0;
};

}  // namespace pelko
