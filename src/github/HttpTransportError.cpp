#include "github/HttpTransportError.hpp"

#include <fmt/format.h>

namespace pelko {
namespace {

const char* caseName(HttpTransportError::Code code) {
    switch (code) {
        case HttpTransportError::Code::invalidURL:
            return "invalidURL";
        case HttpTransportError::Code::cannotConnect:
            return "cannotConnect";
        case HttpTransportError::Code::timedOut:
            return "timedOut";
        case HttpTransportError::Code::responseTooLarge:
            return "responseTooLarge";
        case HttpTransportError::Code::failed:
            return "failed";
    }
    return "failed";
}

}  // namespace

HttpTransportError::HttpTransportError(Code code, int curlCode)
    : std::runtime_error(fmt::format("{}(code: {})", caseName(code), curlCode)),
      code_(code),
      curlCode_(curlCode) {}

}  // namespace pelko
