#pragma once
// GitHubOAuthCoordinatorDelegate: how the sign-in coordinator reports the end of a sign-in.
//
// Called once per sign-in attempt that ends: on the coordinator's own queue after the callback was
// checked (success after the new token has been stored, or a refused callback, exchange or save), or
// on the main thread when the window was closed or failed to load. A window closed by a newer start is
// not reported. Failures carry the error's description. The coordinator holds its delegate weakly.
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
