#pragma once
// GitHubOAuthCoordinating: the GitHub sign-in flow (authorisation code with PKCE in a browser session).
//
// `startAuthorization` is called on the main thread and returns at once; the outcome reaches the
// delegate (held weakly) later. Exists only when OAuth settings were found.
#include <memory>

#include "github/GitHubOAuthCoordinatorDelegate.hpp"

namespace pelko {

class GitHubOAuthCoordinating {
  public:
    enum class Initiator { user };

    virtual ~GitHubOAuthCoordinating() = default;
    virtual void setDelegate(std::weak_ptr<GitHubOAuthCoordinatorDelegate> delegate) = 0;
    virtual void startAuthorization(Initiator initiator) = 0;
};

}  // namespace pelko
