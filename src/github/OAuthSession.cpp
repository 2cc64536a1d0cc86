#include "github/OAuthSession.hpp"

namespace pelko {

OAuthSessionError::OAuthSessionError(Code code)
    : std::runtime_error(code == Code::cancelled ? "cancelled" : "loadFailed"), code_(code) {}

}  // namespace pelko
