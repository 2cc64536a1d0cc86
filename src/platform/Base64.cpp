#include "platform/Base64.hpp"

namespace pelko::base64 {

namespace {

constexpr char standardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char urlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encodeWith(std::span<const std::uint8_t> bytes, const char* alphabet, bool pad) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        text.push_back(alphabet[group >> 18 & 63]);
        text.push_back(alphabet[group >> 12 & 63]);
        text.push_back(alphabet[group >> 6 & 63]);
        text.push_back(alphabet[group & 63]);
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t group = bytes[i] << 16 | (rest == 2 ? bytes[i + 1] << 8 : 0);
        text.push_back(alphabet[group >> 18 & 63]);
        text.push_back(alphabet[group >> 12 & 63]);
        if (rest == 2) text.push_back(alphabet[group >> 6 & 63]);
        if (pad) text.append(rest == 2 ? "=" : "==");
    }
    return text;
}

int standardValue(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string encode(std::span<const std::uint8_t> bytes) {
    return encodeWith(bytes, standardAlphabet, true);
}

std::string encode(std::string_view bytes) {
    return encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::string encodeUrl(std::span<const std::uint8_t> bytes) {
    return encodeWith(bytes, urlAlphabet, false);
}

std::optional<std::vector<std::uint8_t>> decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        std::size_t digits = last ? 4 - padding : 4;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            int value = 0;
            if (k < digits) {
                value = standardValue(text[i + k]);
                if (value < 0) return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (digits >= 3) bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        if (digits == 4) bytes.push_back(static_cast<std::uint8_t>(group));
        // Bits below the last whole byte must be zero, or two texts would decode alike.
        if ((digits == 2 && (group & 0xFFFF) != 0) || (digits == 3 && (group & 0xFF) != 0))
            return std::nullopt;
    }
    return bytes;
}

}  // namespace pelko::base64
