#include "platform/CutText.hpp"

namespace pelko {
namespace {

bool continues(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

std::string_view CutText::head(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    // The first byte left out continues a character: that character goes too.
    std::size_t kept = limit;
    while (kept > 0 && continues(text[kept])) --kept;
    return text.substr(0, kept);
}

std::string_view CutText::tail(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t start = text.size() - limit;
    while (start < text.size() && continues(text[start])) ++start;
    return text.substr(start);
}

std::string CutText::note(std::uint64_t totalBytes) {
    return "\u2026 (cut, " + std::to_string(totalBytes) + " bytes in all)";
}

std::string CutText::shortened(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    return std::string(head(text, limit)) + note(text.size());
}

}  // namespace pelko
