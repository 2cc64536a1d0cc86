#pragma once
// GitError: why one `git` run of the Git service failed. A small value; `description()` is the text
// the page is shown.
#include <string>

namespace pelko {

class GitError {
  public:
    enum class Kind { launchFailed, commandFailed, authenticationFailed, authenticationRequired };

    static GitError launchFailed(std::string text) { return {Kind::launchFailed, std::move(text)}; }
    static GitError commandFailed(std::string text) { return {Kind::commandFailed, std::move(text)}; }
    static GitError authenticationFailed(std::string text) {
        return {Kind::authenticationFailed, std::move(text)};
    }
    static GitError authenticationRequired() { return {Kind::authenticationRequired, {}}; }

    Kind kind() const { return kind_; }
    // The carried text: git's standard error or the launch error; empty for authenticationRequired.
    const std::string& text() const { return text_; }
    std::string description() const;

    friend bool operator==(const GitError&, const GitError&) = default;

  private:
    GitError(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
};

}  // namespace pelko
