#include "bridge/EventScript.hpp"

#include <openssl/evp.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

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

// The event's JSON text as it appears inside the script's single-quoted literal: the same text that
// json::encode gives ("/" as "\/", control characters escaped, invalid UTF-8 as U+FFFD, a non-finite
// number an EncodeError), with backslashes and single quotes escaped for the literal, without
// intermediate copies. A small event is written in one pass into a buffer of its estimated size; a
// large one (a whole file) in two: the first measures the exact length, the second writes into a
// buffer of that size, so it costs one buffer of its script and no regrowth.
constexpr std::size_t kMeasuredFrom = 256 * 1024;

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

// The length of the well-formed UTF-8 sequence that starts with the non-ASCII byte at `p`, as a
// positive number; or, when it is ill-formed, minus the length of its maximal ill-formed prefix (at
// least one byte), which becomes one U+FFFD, as the JSON library replaces it.
std::ptrdiff_t utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = *p;
    std::ptrdiff_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return -1;
    }
    for (std::ptrdiff_t i = 1; i < length; ++i) {
        if (p + i == end) return -i;
        const unsigned char next = p[i];
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return -i;
    }
    return length;
}

// Measures what it would write.
struct LengthSink {
    std::size_t length = 0;
    void put(char) { ++length; }
    void put(std::string_view text) { length += text.size(); }
};

struct StringSink {
    std::string& out;
    void put(char c) { out.push_back(c); }
    void put(std::string_view text) { out.append(text); }
};

template <class Sink>
void writeControl(Sink& sink, unsigned char c) {
    switch (c) {
        case '\b':
            sink.put(R"(\\b)");
            return;
        case '\t':
            sink.put(R"(\\t)");
            return;
        case '\n':
            sink.put(R"(\\n)");
            return;
        case '\f':
            sink.put(R"(\\f)");
            return;
        case '\r':
            sink.put(R"(\\r)");
            return;
        default: {
            constexpr char digits[] = "0123456789abcdef";
            const char escaped[] = {'\\', '\\', 'u', '0', '0', digits[c >> 4], digits[c & 15]};
            sink.put(std::string_view(escaped, sizeof escaped));
        }
    }
}

template <class Sink>
void writeScriptString(Sink& sink, std::string_view text) {
    sink.put('"');
    const char* run = text.data();
    const char* p = run;
    const char* end = run + text.size();
    auto flush = [&] { sink.put(std::string_view(run, static_cast<std::size_t>(p - run))); };
    while (p != end) {
        // Skip eight plain characters at a time; text and base64 are almost all plain.
        while (end - p >= 8 && plainWord(p)) p += 8;
        if (p == end) break;
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x80) {
            std::ptrdiff_t length = utf8SequenceLength(reinterpret_cast<const unsigned char*>(p),
                                                       reinterpret_cast<const unsigned char*>(end));
            if (length > 0) {
                p += length;
                continue;
            }
            flush();
            sink.put("\xEF\xBF\xBD");
            p -= length;
            run = p;
            continue;
        }
        if (c >= 0x20 && c != '"' && c != '\\' && c != '/' && c != '\'') {
            ++p;
            continue;
        }
        flush();
        if (c < 0x20) {
            writeControl(sink, c);
        } else if (c == '"') {
            sink.put(R"(\\")");
        } else if (c == '\\') {
            sink.put(R"(\\\\)");
        } else if (c == '/') {
            sink.put(R"(\\/)");
        } else {
            sink.put(R"(\')");
        }
        run = ++p;
    }
    flush();
    sink.put('"');
}

template <class Sink>
void writeScriptJson(Sink& sink, const Json& value) {
    switch (value.type()) {
        case Json::value_t::object: {
            sink.put('{');
            bool first = true;
            for (const auto& item : value.items()) {
                if (!first) sink.put(',');
                first = false;
                writeScriptString(sink, item.key());
                sink.put(':');
                writeScriptJson(sink, item.value());
            }
            sink.put('}');
            return;
        }
        case Json::value_t::array: {
            sink.put('[');
            bool first = true;
            for (const auto& element : value) {
                if (!first) sink.put(',');
                first = false;
                writeScriptJson(sink, element);
            }
            sink.put(']');
            return;
        }
        case Json::value_t::string:
            writeScriptString(sink, value.get_ref<const std::string&>());
            return;
        case Json::value_t::number_float:
            if (!std::isfinite(value.get<double>())) throw EncodeError("non-finite number");
            sink.put(value.dump());
            return;
        default:
            sink.put(value.dump());
            return;
    }
}

// Roughly the script length of a value, without reading its strings.
std::size_t estimatedLength(const Json& value) {
    switch (value.type()) {
        case Json::value_t::object: {
            std::size_t size = 2;
            for (const auto& item : value.items())
                size += item.key().size() + 4 + estimatedLength(item.value());
            return size;
        }
        case Json::value_t::array: {
            std::size_t size = 2;
            for (const auto& element : value) size += 1 + estimatedLength(element);
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

template <class Sink>
void writeScript(Sink& sink, const std::string& type, const Json& payload) {
    sink.put(kScriptHead);
    sink.put(R"({"type":)");
    writeScriptString(sink, type);
    sink.put(R"(,"payload":)");
    writeScriptJson(sink, payload);
    sink.put('}');
    sink.put(kScriptTail);
}

}  // namespace

std::string_view EventScript::head() {
    return kScriptHead;
}

std::string_view EventScript::tail() {
    return kScriptTail;
}

std::string EventScript::build(const std::string& type, const Json& payload) {
    return *buildWithin(type, payload, std::numeric_limits<std::size_t>::max());
}

std::optional<std::string> EventScript::buildWithin(const std::string& type, const Json& payload,
                                                    std::size_t maxBytes) {
    std::size_t length =
        kScriptHead.size() + kScriptTail.size() + type.size() + 32 + estimatedLength(payload);
    if (length >= kMeasuredFrom) {
        LengthSink measured;
        writeScript(measured, type, payload);
        length = measured.length;
        if (length > maxBytes) return std::nullopt;
    }
    std::string script;
    script.reserve(length);
    StringSink writer{script};
    writeScript(writer, type, payload);
    if (script.size() > maxBytes) return std::nullopt;
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
