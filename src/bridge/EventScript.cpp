#include "bridge/EventScript.hpp"

#include <openssl/evp.h>

#include <array>
#include <cmath>
#include <cstring>

namespace pelko {

namespace {

constexpr std::string_view kScriptHead = "(function() {\n  const event = JSON.parse('";
constexpr std::string_view kScriptTail =
    "');\n"
    "  if (!Array.isArray(window.__pelkoEventHistory)) {\n"
    "    window.__pelkoEventHistory = [];\n"
    "  }\n"
    "  window.__pelkoEventHistory.push(event);\n"
    "  if (window.__pelkoEventHistory.length > 200) {\n"
    "    window.__pelkoEventHistory.splice(0, window.__pelkoEventHistory.length - 200);\n"
    "  }\n"
    "  if (window.__pelko__ && typeof window.__pelko__.dispatch === 'function') {\n"
    "    window.__pelko__.dispatch(event);\n"
    "    return;\n"
    "  }\n"
    "  if (!Array.isArray(window.__pelkoPendingEvents)) {\n"
    "    window.__pelkoPendingEvents = [];\n"
    "  }\n"
    "  window.__pelkoPendingEvents.push(event);\n"
    "})();";

// Writes JSON text as it appears inside the script's single-quoted literal: the same text that
// json::encode gives ("/" as "\/", invalid UTF-8 as U+FFFD, a non-finite number an EncodeError),
// with backslashes and single quotes escaped for the literal, in one pass and without intermediate
// copies.
enum : unsigned char { kVerbatim, kEscaped, kSlowPath };

constexpr std::array<unsigned char, 256> scriptCharClasses() {
    std::array<unsigned char, 256> classes{};
    for (int c = 0; c < 256; ++c) classes[c] = (c < 0x20 || c >= 0x80) ? kSlowPath : kVerbatim;
    for (char c : {'"', '\\', '/', '\''}) classes[static_cast<unsigned char>(c)] = kEscaped;
    return classes;
}

constexpr auto kScriptCharClasses = scriptCharClasses();

// True when none of the eight bytes at `p` is a control character, non-ASCII, or one of the four
// characters that need escaping (word-at-a-time byte tests).
inline bool plainWord(const char* p) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    auto hasZeroByte = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    std::uint64_t special = (word & highs) | ((word - ones * 0x20) & ~word & highs) |
                            hasZeroByte(word ^ (ones * '"')) | hasZeroByte(word ^ (ones * '\\')) |
                            hasZeroByte(word ^ (ones * '/')) | hasZeroByte(word ^ (ones * '\''));
    return special == 0;
}

// JSON text from the JSON library (with "/" not yet escaped) made ready for the literal.
void appendEscapedForScript(std::string& out, std::string_view jsonText) {
    const char* run = jsonText.data();
    const char* end = run + jsonText.size();
    for (const char* p = run; p != end; ++p) {
        char c = *p;
        if (c != '\\' && c != '\'' && c != '/') continue;
        out.append(run, p);
        if (c == '/') {
            out.append(R"(\\/)");
        } else {
            out.push_back('\\');
            out.push_back(c);
        }
        run = p + 1;
    }
    out.append(run, end);
}

void appendScriptString(std::string& out, std::string_view text) {
    const std::size_t start = out.size();
    out.push_back('"');
    const char* run = text.data();
    const char* end = run + text.size();
    for (const char* p = run; p != end; ++p) {
        // Skip eight plain characters at a time; base64 output is almost all plain.
        while (end - p >= 8 && plainWord(p)) p += 8;
        if (p == end) break;
        unsigned char charClass = kScriptCharClasses[static_cast<unsigned char>(*p)];
        if (charClass == kVerbatim) continue;
        if (charClass == kSlowPath) {
            // Control characters and non-ASCII text go through the JSON library, which also
            // replaces invalid UTF-8.
            out.resize(start);
            appendEscapedForScript(
                out, Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace));
            return;
        }
        out.append(run, p);
        switch (*p) {
            case '"':
                out.append(R"(\\")");
                break;
            case '\\':
                out.append(R"(\\\\)");
                break;
            case '/':
                out.append(R"(\\/)");
                break;
            default:
                out.append(R"(\')");
                break;
        }
        run = p + 1;
    }
    out.append(run, end);
    out.push_back('"');
}

// Roughly the script length of a value, so the script is allocated once.
std::size_t estimatedScriptSize(const Json& value) {
    switch (value.type()) {
        case Json::value_t::object: {
            std::size_t size = 2;
            for (const auto& item : value.items()) {
                size += item.key().size() + 4 + estimatedScriptSize(item.value());
            }
            return size;
        }
        case Json::value_t::array: {
            std::size_t size = 2;
            for (const auto& element : value) size += 1 + estimatedScriptSize(element);
            return size;
        }
        case Json::value_t::string: {
            std::size_t length = value.get_ref<const std::string&>().size();
            return length + length / 16 + 2;
        }
        default:
            return 24;
    }
}

void appendScriptJson(std::string& out, const Json& value) {
    switch (value.type()) {
        case Json::value_t::object: {
            out.push_back('{');
            bool first = true;
            for (const auto& item : value.items()) {
                if (!first) out.push_back(',');
                first = false;
                appendScriptString(out, item.key());
                out.push_back(':');
                appendScriptJson(out, item.value());
            }
            out.push_back('}');
            return;
        }
        case Json::value_t::array: {
            out.push_back('[');
            bool first = true;
            for (const auto& element : value) {
                if (!first) out.push_back(',');
                first = false;
                appendScriptJson(out, element);
            }
            out.push_back(']');
            return;
        }
        case Json::value_t::string:
            appendScriptString(out, value.get_ref<const std::string&>());
            return;
        case Json::value_t::number_float:
            if (!std::isfinite(value.get<double>())) throw EncodeError("non-finite number");
            out.append(value.dump());
            return;
        default:
            out.append(value.dump());
            return;
    }
}

}  // namespace

std::string_view EventScript::head() {
    return kScriptHead;
}

std::string_view EventScript::tail() {
    return kScriptTail;
}

std::string EventScript::build(const std::string& type, const Json& payload) {
    std::string script;
    script.reserve(kScriptHead.size() + kScriptTail.size() + type.size() + 32 + estimatedScriptSize(payload));
    script.append(kScriptHead);
    script.append(R"({"type":)");
    appendScriptString(script, type);
    script.append(R"(,"payload":)");
    appendScriptJson(script, payload);
    script.push_back('}');
    script.append(kScriptTail);
    return script;
}

std::string EventScript::base64(std::span<const std::uint8_t> bytes) {
    std::string text((bytes.size() + 2) / 3 * 4, '\0');
    if (text.empty()) return text;
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                    static_cast<int>(bytes.size()));
    return text;
}

}  // namespace pelko
