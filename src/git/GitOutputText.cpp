#include "git/GitOutputText.hpp"

#include <charconv>

namespace pelko {

std::string_view GitOutputText::trim(std::string_view text) {
    constexpr std::string_view blank = " \t\n\r\v\f";
    std::size_t begin = text.find_first_not_of(blank);
    if (begin == std::string_view::npos) return {};
    return text.substr(begin, text.find_last_not_of(blank) - begin + 1);
}

std::string_view GitOutputText::trimBlanks(std::string_view text) {
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

std::vector<std::string_view> GitOutputText::split(std::string_view text, std::string_view delimiter) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        std::size_t end = text.find(delimiter, start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + delimiter.size();
    }
}

std::vector<std::string_view> GitOutputText::nonEmptyLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (auto line : split(text, "\n")) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string GitOutputText::lowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

std::optional<std::int64_t> GitOutputText::parseInteger(std::string_view text) {
    // One sign at most: from_chars takes a "-" itself, so a "+" before it ("+-5") is refused here.
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) return std::nullopt;
    }
    if (text.empty() || text.starts_with('+')) return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace pelko
