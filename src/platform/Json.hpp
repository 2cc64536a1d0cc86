#pragma once
// JSON as this system writes and reads it.
//
// Writing: `ordered_json` built with keys in field order; absent optionals are left out, never null.
// `encode` gives compact text with every "/" written as "\/", invalid UTF-8 replaced with U+FFFD, and
// throws EncodeError for a non-finite number.
//
// Reading is strict: `parse` rejects malformed text; the readers treat a missing key and null alike
// (nullopt), throw DecodeError for a value of the wrong type, and check integer ranges explicitly
// (a double such as 1e300 is never converted without a range check).
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
std::optional<Json> parse(std::string_view text) noexcept;

// Field readers on an object. Missing or null -> nullopt; wrong type -> DecodeError.
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
