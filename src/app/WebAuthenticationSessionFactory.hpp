#pragma once
// WebAuthenticationSessionFactory: OAuthSessionFactory whose sessions are modal GTK windows holding a
// WebKitGTK view of their own. The view opens the authorisation address in a persistent network
// session of its own (cookies kept in "cookies.sqlite" of the data folder's "pelko/web-authentication",
// a folder of mode 0700, so GitHub's sign-in is remembered from one start to the next; its cache in the
// cache folder's "pelko/web-authentication", 0700 too), and the session completes when a navigation
// reaches the callback scheme: caught in decide-policy, with the scheme registered on the view's web
// context as a backstop for a load that slips past it. Closing the window completes as cancelled; a
// main-frame load that fails completes as loadFailed. The callback address never loads.
//
// Main thread only. One window is open at a time (the coordinator cancels the previous session before
// starting the next); the window is transient for the application's first window.
#include "github/OAuthSession.hpp"

namespace pelko {

class WebAuthenticationSessionFactory final : public OAuthSessionFactory {
  public:
    std::shared_ptr<OAuthSession> makeSession(const std::string& url, const std::string& callbackScheme,
                                              Completion completion) override;
};

}  // namespace pelko
