#include "github/GitHubOAuthCoordinatorError.hpp"

namespace pelko {
namespace {

const char* caseName(GitHubOAuthCoordinatorError::Code code) {
    using Code = GitHubOAuthCoordinatorError::Code;
    switch (code) {
        case Code::invalidRedirect:
            return "invalidRedirect";
        case Code::missingState:
            return "missingState";
        case Code::stateMismatch:
            return "stateMismatch";
        case Code::missingCode:
            return "missingCode";
    }
    return "invalidRedirect";
}

}  // namespace

GitHubOAuthCoordinatorError::GitHubOAuthCoordinatorError(Code code)
    : std::runtime_error(caseName(code)), code_(code) {}

}  // namespace pelko
