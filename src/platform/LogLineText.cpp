#include "platform/LogLineText.hpp"

namespace pelko {
namespace {

std::string oneLine(std::string_view text, bool alreadyJson) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string result;
    result.reserve(text.size());
    auto escape = [&](unsigned codePoint) {
        result += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) result += hex[(codePoint >> shift) & 0xF];
    };
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0u;
        const auto third = at + 2 < text.size() ? static_cast<unsigned char>(text[at + 2]) : 0u;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080-U+009F
            escape(next);
            ++at;
        } else if (byte == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)) {  // U+2028, U+2029
            escape(0x2000u + third - 0x80u);
            at += 2;
        } else if (byte == 0x7F) {
            escape(byte);
        } else if (byte >= 0x20 && (byte != '\\' || alreadyJson)) {
            result += text[at];
        } else if (byte == '\\') {
            result += "\\\\";
        } else if (byte == '\n') {
            result += "\\n";
        } else if (byte == '\r') {
            result += "\\r";
        } else if (byte == '\t') {
            result += "\\t";
        } else {
            escape(byte);
        }
    }
    return result;
}

}  // namespace

std::string LogLineText::escaped(std::string_view text) {
    return oneLine(text, false);
}

std::string LogLineText::escapedJson(std::string_view json) {
    return oneLine(json, true);
}

}  // namespace pelko
