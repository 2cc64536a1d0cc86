#pragma once
// OAuthSession and OAuthSessionFactory: a browser sign-in session that opens GitHub's authorisation
// address and ends when a navigation reaches the callback scheme.
//
// Sessions are made, started and cancelled on the main thread, and their completion runs there, at
// most once: with the callback address, or with an OAuthSessionError when the user closed the window
// or the page could not be shown. `cancel` closes the session without calling the completion.
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace pelko {

class OAuthSessionError : public std::runtime_error {
  public:
    enum class Code { cancelled, loadFailed };
    explicit OAuthSessionError(Code code);
    Code code() const { return code_; }

  private:
    Code code_;
};

struct OAuthSessionOutcome {
    std::optional<std::string> callbackURL;
    // Set when there is no callback address.
    std::optional<OAuthSessionError> error;
};

class OAuthSession {
  public:
    virtual ~OAuthSession() = default;
    virtual void start() = 0;
    virtual void cancel() = 0;
};

class OAuthSessionFactory {
  public:
    using Completion = std::function<void(const OAuthSessionOutcome&)>;

    virtual ~OAuthSessionFactory() = default;
    virtual std::shared_ptr<OAuthSession> makeSession(const std::string& url,
                                                      const std::string& callbackScheme,
                                                      Completion completion) = 0;
};

}  // namespace pelko
