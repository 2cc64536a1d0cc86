#pragma once
// GitQuotedPath: git's C-style quoting of paths in its line-oriented output ("a\tb", "\346\227\245"
// for bytes that are not printable ASCII). Pure; safe from any thread.
#include <string>
#include <string_view>

namespace pelko {

struct GitQuotedPath {
    // A path in double quotes with git's escapes becomes the raw path (octal escapes become bytes); any
    // other text, or a quoted text with an unknown escape, is returned unchanged.
    static std::string unquote(std::string_view text);
};

}  // namespace pelko
