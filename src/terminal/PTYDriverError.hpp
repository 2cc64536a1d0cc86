#pragma once
// PTYDriverError: why opening a pseudo-terminal, starting a shell, resizing or signalling failed. It
// has no text of its own: its description is the case name, with "(label: value)" for a case with a
// value, such as "spawnFailed(code: 2)".
#include <cstdint>
#include <stdexcept>
#include <string>

namespace pelko {

class PTYDriverError : public std::runtime_error {
  public:
    enum class Code {
        openPTYFailed,
        nonBlockingSetupFailed,
        spawnFailed,
        resizeFailed,
        signalFailed,
        missingSlavePath
    };

    PTYDriverError(Code code, std::int32_t value = 0);

    Code code() const { return code_; }
    std::int32_t value() const { return value_; }
    std::string description() const { return what(); }

  private:
    static std::string describe(Code code, std::int32_t value);
    Code code_;
    std::int32_t value_;
};

}  // namespace pelko
