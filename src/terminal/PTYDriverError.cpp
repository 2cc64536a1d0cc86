#include "terminal/PTYDriverError.hpp"

#include <fmt/format.h>

namespace pelko {

PTYDriverError::PTYDriverError(Code code, std::int32_t value)
    : std::runtime_error(describe(code, value)), code_(code), value_(value) {}

std::string PTYDriverError::describe(Code code, std::int32_t value) {
    switch (code) {
        case Code::openPTYFailed:
            return fmt::format("openPTYFailed(errno: {})", value);
        case Code::nonBlockingSetupFailed:
            return fmt::format("nonBlockingSetupFailed(errno: {})", value);
        case Code::spawnFailed:
            return fmt::format("spawnFailed(code: {})", value);
        case Code::resizeFailed:
            return fmt::format("resizeFailed(errno: {})", value);
        case Code::signalFailed:
            return fmt::format("signalFailed(errno: {})", value);
        case Code::missingSlavePath:
            return "missingSlavePath";
    }
    return "missingSlavePath";
}

}  // namespace pelko
