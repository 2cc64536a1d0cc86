#pragma once
// JSON as this system writes and reads it.
//
// Writing: `ordered_json` built with keys in field order; absent optionals are left out, never null.
// `encode` gives compact text with every "/" written as "\/", invalid UTF-8 replaced with U+FFFD, and
// throws EncodeError for a non-finite number.
//
// Reading is strict: `parse` rejects malformed text; no reader coerces a type ("1" is no number,
// 1.5 no integer, any number no boolean) and integer ranges are checked explicitly (a double such as
// 1e300 is never converted without a range check). A missing key and null read alike. One family of
// readers with two policies for a value of the wrong type: the stored-data readers (`opt*`, `req*`,
// `as*`) throw DecodeError; the page-message readers (`*Field`) read it as absent and never throw,
// since a page message is untrusted and its handler drops or defaults what it cannot use.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Uuid.hpp"

namespace pelko {

using Json = nlohmann::ordered_json;

struct EncodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

namespace json {

std::string encode(const Json& value);

// Page values nested deeper than this many arrays and objects are refused (or cut) wherever they would
// be copied or printed recursively: a deep enough value overflows the stack of a recursive copy or
// dump. Parsing and destroying are not recursive, so any depth may arrive and be dropped.
inline constexpr std::size_t maxValueDepth = 64;
// True when arrays and objects nest more than `limit` levels in the value (a scalar is level 0);
// checked without recursion.
bool nestsDeeperThan(const Json& value, std::size_t limit);
std::optional<Json> parse(std::string_view text) noexcept;

// Value readers, the core of both families: nullopt unless the value has the type.
std::optional<std::string> stringValue(const Json& value);
std::optional<bool> boolValue(const Json& value);
// A JSON integer, or a finite double with no fraction, inside [min, max].
std::optional<std::int64_t> integerValue(const Json& value, std::int64_t min = INT64_MIN,
                                         std::int64_t max = INT64_MAX);
std::optional<double> numberValue(const Json& value);
std::optional<Uuid> uuidValue(const Json& value);
// An array whose elements are all strings.
std::optional<std::vector<std::string>> stringArrayValue(const Json& value);

// Page-message readers on a payload that may be absent (nullptr) or not an object: missing, null,
// or of another type -> nullopt (nullptr for `field`).
const Json* field(const Json* object, std::string_view key);
// Present with any value, null included.
const Json* presentField(const Json* object, std::string_view key);
std::optional<std::string> stringField(const Json* object, std::string_view key);
std::optional<bool> boolField(const Json* object, std::string_view key);
std::optional<std::int64_t> integerField(const Json* object, std::string_view key,
                                         std::int64_t min = INT64_MIN, std::int64_t max = INT64_MAX);
std::optional<double> numberField(const Json* object, std::string_view key);
std::optional<Uuid> uuidField(const Json* object, std::string_view key);
std::optional<std::vector<std::string>> stringArrayField(const Json* object, std::string_view key);
const Json* objectField(const Json* object, std::string_view key);
const Json* arrayField(const Json* object, std::string_view key);

// Stored-data field readers on an object. Missing or null -> nullopt; wrong type -> DecodeError.
// `object` that is not an object -> DecodeError.
std::optional<std::string> optString(const Json& object, std::string_view key);
std::optional<bool> optBool(const Json& object, std::string_view key);
// Accepts a JSON integer, or a finite double with no fraction, inside [min, max]; else DecodeError.
std::optional<std::int64_t> optInteger(const Json& object, std::string_view key, std::int64_t min = INT64_MIN,
                                       std::int64_t max = INT64_MAX);
std::optional<double> optNumber(const Json& object, std::string_view key);
std::optional<Uuid> optUuid(const Json& object, std::string_view key);
const Json* optObject(const Json& object, std::string_view key);
const Json* optArray(const Json& object, std::string_view key);

// Required variants: missing or null -> DecodeError.
std::string reqString(const Json& object, std::string_view key);
bool reqBool(const Json& object, std::string_view key);
std::int64_t reqInteger(const Json& object, std::string_view key, std::int64_t min = INT64_MIN,
                        std::int64_t max = INT64_MAX);
Uuid reqUuid(const Json& object, std::string_view key);
const Json& reqObject(const Json& object, std::string_view key);
const Json& reqArray(const Json& object, std::string_view key);

// Element readers.
std::string asString(const Json& value);  // DecodeError unless a string
Uuid asUuid(const Json& value);           // DecodeError unless a UUID string
std::vector<std::string> asStringArray(const Json& value);

}  // namespace json
}  // namespace pelko
