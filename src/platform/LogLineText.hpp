#pragma once
// LogLineText: text from outside (the page) made safe for one line of a log, so that no text can start
// a line, or an entry, of its own. Pure.
#include <string>
#include <string_view>

namespace pelko {

struct LogLineText {
    // The backslash, the control characters (U+0000-U+001F, U+007F-U+009F) and the line and paragraph
    // separators (U+2028, U+2029) become escapes ("\\", "\n", "\r", "\t", else "\u" and four
    // lower-case hex digits); everything else stays as it is.
    static std::string escaped(std::string_view text);
    // The same for JSON text, whose backslashes already start escapes: the characters JSON leaves as
    // they are get the escapes JSON would give them, so the text stays the same JSON.
    static std::string escapedJson(std::string_view json);
};

}  // namespace pelko
