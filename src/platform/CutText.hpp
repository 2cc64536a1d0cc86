#pragma once
// CutText: long text shortened for a log line or a message: cut only between UTF-8 characters, with a
// note of how long it was where bytes were left out. Pure; works on bytes, so text that is not UTF-8
// is cut too (a caller that shows it decodes or checks it).
#include <cstdint>
#include <string>
#include <string_view>

namespace pelko {

struct CutText {
    // The start of `text`, at most `limit` bytes, that does not end inside a character.
    static std::string_view head(std::string_view text, std::size_t limit);
    // The end of `text`, at most `limit` bytes, that does not start inside a character.
    static std::string_view tail(std::string_view text, std::size_t limit);
    // What stands for the bytes left out: "… (cut, N bytes in all)".
    static std::string note(std::uint64_t totalBytes);
    // `text` when it fits in `limit` bytes; otherwise its head, then the note.
    static std::string shortened(std::string_view text, std::size_t limit);
};

}  // namespace pelko
