#pragma once
// GitResult: the outcome of one `git` run of the Git service: a value, or the GitError that ended it.
#include <utility>
#include <variant>

#include "git/GitError.hpp"

namespace pelko {

template <typename T>
class GitResult {
  public:
    GitResult(T value) : outcome_(std::move(value)) {}
    GitResult(GitError error) : outcome_(std::move(error)) {}

    bool ok() const { return outcome_.index() == 0; }
    const T& value() const { return std::get<0>(outcome_); }
    T& value() { return std::get<0>(outcome_); }
    const GitError& error() const { return std::get<1>(outcome_); }

  private:
    std::variant<T, GitError> outcome_;
};

}  // namespace pelko
