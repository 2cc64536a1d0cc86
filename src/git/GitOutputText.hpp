#pragma once
// GitOutputText: the small text steps shared by the readers of git's line-oriented output. Pure.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelko {

struct GitOutputText {
    // Without white space and line breaks at both ends.
    static std::string_view trim(std::string_view text);
    // Without spaces and tabs at both ends (line breaks kept).
    static std::string_view trimBlanks(std::string_view text);
    // The pieces between occurrences of `delimiter`, empty pieces kept.
    static std::vector<std::string_view> split(std::string_view text, std::string_view delimiter);
    static std::vector<std::string_view> nonEmptyLines(std::string_view text);
    // ASCII letters in lower case, other bytes as they are: for matching against ASCII names (git's
    // messages, hosts, file extensions), never for text shown to the user.
    static std::string lowercased(std::string_view text);
    // A whole decimal integer with an optional sign; nullopt for anything else.
    static std::optional<std::int64_t> parseInteger(std::string_view text);
};

}  // namespace pelko
