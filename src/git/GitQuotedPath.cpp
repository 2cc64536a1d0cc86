#include "git/GitQuotedPath.hpp"

namespace pelko {

std::string GitQuotedPath::unquote(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
    std::string_view body = text.substr(1, text.size() - 2);
    std::string result;
    result.reserve(body.size());
    for (std::size_t index = 0; index < body.size(); ++index) {
        char c = body[index];
        if (c == '"') return std::string(text);
        if (c != '\\') {
            result += c;
            continue;
        }
        if (++index >= body.size()) return std::string(text);
        char escape = body[index];
        switch (escape) {
            case 'a':
                result += '\a';
                break;
            case 'b':
                result += '\b';
                break;
            case 't':
                result += '\t';
                break;
            case 'n':
                result += '\n';
                break;
            case 'v':
                result += '\v';
                break;
            case 'f':
                result += '\f';
                break;
            case 'r':
                result += '\r';
                break;
            case '"':
                result += '"';
                break;
            case '\\':
                result += '\\';
                break;
            default: {
                if (index + 3 > body.size()) return std::string(text);
                int value = 0;
                for (std::size_t digit = 0; digit < 3; ++digit) {
                    char octal = body[index + digit];
                    if (octal < '0' || octal > '7') return std::string(text);
                    value = value * 8 + (octal - '0');
                }
                if (value > 0377) return std::string(text);
                result += static_cast<char>(value);
                index += 2;
            }
        }
    }
    return result;
}

}  // namespace pelko
