#include "git/GitCredentialBrokerError.hpp"

#include <fmt/format.h>

namespace pelko {

GitCredentialBrokerError::GitCredentialBrokerError(Code code, int systemError)
    : std::runtime_error(describe(code, systemError)), code_(code), systemError_(systemError) {}

std::string GitCredentialBrokerError::describe(Code code, int systemError) {
    switch (code) {
        case Code::noPrivateFolder:
            return "noPrivateFolder";
        case Code::folderFailed:
            return fmt::format("folderFailed(errno: {})", systemError);
        case Code::unsafeFolder:
            return "unsafeFolder";
        case Code::writeFailed:
            return fmt::format("writeFailed(errno: {})", systemError);
    }
    return "unsafeFolder";
}

}  // namespace pelko
