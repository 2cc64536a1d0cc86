#pragma once
// EventScript: the script that hands one event to the page. The envelope {"type","payload"} is
// encoded as JSON text (every "/" as "\/", invalid UTF-8 as U+FFFD) and placed in a single-quoted
// literal (backslashes and single quotes escaped) between a fixed head and tail, in one pass and
// without intermediate copies. Pure functions, safe on any thread.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Json.hpp"

namespace pelko {

class EventScript {
  public:
    static std::string_view head();
    static std::string_view tail();
    // Throws EncodeError for a non-finite number.
    static std::string build(const std::string& type, const Json& payload);
    // As `build`, or nothing when the script would be longer than `maxBytes`; a large event is
    // measured first, so a script that is refused is never made.
    static std::optional<std::string> buildWithin(const std::string& type, const Json& payload,
                                                  std::size_t maxBytes);
    // Standard base64 with padding (libcrypto's block encoder: several times faster than encoding
    // character by character, which matters for terminal output, the highest-rate event).
    static std::string base64(std::span<const std::uint8_t> bytes);
};

}  // namespace pelko
