#pragma once
// Environment: the process environment, read once at start-up into a map. Nothing in the system calls
// setenv afterwards; child processes get an explicit map built from this one.
#include <map>
#include <optional>
#include <string>

namespace pelko {

class Environment {
  public:
    using Map = std::map<std::string, std::string>;

    // The snapshot taken on first use (tests' main() sets their variables before that).
    static const Environment& process();
    explicit Environment(Map values) : values_(std::move(values)) {}

    std::optional<std::string> get(const std::string& name) const;
    // Set and non-empty.
    std::optional<std::string> nonEmpty(const std::string& name) const;
    const Map& all() const { return values_; }

  private:
    Map values_;
};

}  // namespace pelko
