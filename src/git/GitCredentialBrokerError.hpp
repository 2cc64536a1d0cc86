#pragma once
// GitCredentialBrokerError: why a run's credential folder or script could not be made. It has no text
// of its own: its description is the case name, with "(errno: value)" for a case with a value, such
// as "writeFailed(errno: 28)".
#include <stdexcept>
#include <string>

namespace pelko {

class GitCredentialBrokerError : public std::runtime_error {
  public:
    enum class Code {
        noPrivateFolder,  // neither $XDG_RUNTIME_DIR nor a private temporary folder
        folderFailed,     // the scripts folder could not be created or opened
        unsafeFolder,     // a symbolic link, or a folder owned by another user
        writeFailed       // the run's folder or script could not be created, written or made executable
    };

    explicit GitCredentialBrokerError(Code code, int systemError = 0);

    Code code() const { return code_; }
    int systemError() const { return systemError_; }
    std::string description() const { return what(); }

  private:
    static std::string describe(Code code, int systemError);
    Code code_;
    int systemError_;
};

}  // namespace pelko
