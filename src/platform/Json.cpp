#include "platform/Json.hpp"

#include <cmath>

namespace pelko::json {

namespace {

void rejectNonFinite(const Json& value) {
    if (value.is_number_float() && !std::isfinite(value.get<double>())) {
        throw EncodeError("non-finite number");
    }
    if (value.is_structured()) {
        for (const auto& element : value) rejectNonFinite(element);
    }
}

// Missing or null -> nullptr.
const Json* member(const Json& object, std::string_view key) {
    if (!object.is_object()) throw DecodeError("not an object (key: " + std::string(key) + ")");
    auto found = object.find(std::string(key));
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

[[noreturn]] void wrongType(std::string_view key, const char* expected) {
    throw DecodeError("expected " + std::string(expected) + " (key: " + std::string(key) + ")");
}

[[noreturn]] void missing(std::string_view key) {
    throw DecodeError("missing (key: " + std::string(key) + ")");
}

template <class T>
T required(std::optional<T> value, std::string_view key) {
    if (!value) missing(key);
    return std::move(*value);
}

}  // namespace

std::string encode(const Json& value) {
    rejectNonFinite(value);
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '/') escaped.push_back('\\');
        escaped.push_back(c);
    }
    return escaped;
}

std::optional<Json> parse(std::string_view text) noexcept {
    try {
        Json value = Json::parse(text.begin(), text.end(), nullptr, false);
        if (value.is_discarded()) return std::nullopt;
        return value;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> optString(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) wrongType(key, "string");
    return value->get<std::string>();
}

std::optional<bool> optBool(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_boolean()) wrongType(key, "boolean");
    return value->get<bool>();
}

std::optional<std::int64_t> optInteger(const Json& object, std::string_view key, std::int64_t min,
                                       std::int64_t max) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    std::int64_t result = 0;
    if (value->is_number_unsigned()) {
        auto unsignedValue = value->get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX)) wrongType(key, "integer in range");
        result = static_cast<std::int64_t>(unsignedValue);
    } else if (value->is_number_integer()) {
        result = value->get<std::int64_t>();
    } else if (value->is_number_float()) {
        double number = value->get<double>();
        // 2^63 is exactly representable; anything at or above it does not fit.
        if (!std::isfinite(number) || std::trunc(number) != number || number < -9223372036854775808.0 ||
            number >= 9223372036854775808.0) {
            wrongType(key, "integer");
        }
        result = static_cast<std::int64_t>(number);
    } else {
        wrongType(key, "integer");
    }
    if (result < min || result > max) wrongType(key, "integer in range");
    return result;
}

std::optional<double> optNumber(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_number()) wrongType(key, "number");
    return value->get<double>();
}

std::optional<Uuid> optUuid(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) wrongType(key, "UUID");
    auto id = Uuid::parse(value->get_ref<const std::string&>());
    if (!id) wrongType(key, "UUID");
    return id;
}

const Json* optObject(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (value && !value->is_object()) wrongType(key, "object");
    return value;
}

const Json* optArray(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (value && !value->is_array()) wrongType(key, "array");
    return value;
}

std::string reqString(const Json& object, std::string_view key) {
    return required(optString(object, key), key);
}

bool reqBool(const Json& object, std::string_view key) {
    return required(optBool(object, key), key);
}

std::int64_t reqInteger(const Json& object, std::string_view key, std::int64_t min, std::int64_t max) {
    return required(optInteger(object, key, min, max), key);
}

Uuid reqUuid(const Json& object, std::string_view key) {
    return required(optUuid(object, key), key);
}

const Json& reqObject(const Json& object, std::string_view key) {
    const Json* value = optObject(object, key);
    if (!value) missing(key);
    return *value;
}

const Json& reqArray(const Json& object, std::string_view key) {
    const Json* value = optArray(object, key);
    if (!value) missing(key);
    return *value;
}

std::string asString(const Json& value) {
    if (!value.is_string()) throw DecodeError("expected string");
    return value.get<std::string>();
}

Uuid asUuid(const Json& value) {
    if (!value.is_string()) throw DecodeError("expected UUID");
    auto id = Uuid::parse(value.get_ref<const std::string&>());
    if (!id) throw DecodeError("expected UUID");
    return *id;
}

std::vector<std::string> asStringArray(const Json& value) {
    if (!value.is_array()) throw DecodeError("expected array");
    std::vector<std::string> strings;
    strings.reserve(value.size());
    for (const auto& element : value) strings.push_back(asString(element));
    return strings;
}

}  // namespace pelko::json
