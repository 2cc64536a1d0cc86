#pragma once
// GitHubOAuthCoordinatorError: why a sign-in callback was refused. It has no text of its own: its
// description is the case name, such as "stateMismatch".
#include <stdexcept>

namespace pelko {

class GitHubOAuthCoordinatorError : public std::runtime_error {
  public:
    enum class Code { invalidRedirect, missingState, stateMismatch, missingCode };
    explicit GitHubOAuthCoordinatorError(Code code);
    Code code() const { return code_; }

  private:
    Code code_;
};

}  // namespace pelko
