#include "platform/Json.hpp"

#include <cmath>
#include <utility>

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
std::optional<T> checked(std::optional<T> value, std::string_view key, const char* expected) {
    if (!value) wrongType(key, expected);
    return value;
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

bool nestsDeeperThan(const Json& value, std::size_t limit) {
    std::vector<std::pair<const Json*, std::size_t>> pending{{&value, 0}};
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        if (!node->is_structured()) continue;
        if (depth + 1 > limit) return true;
        for (const auto& element : *node) pending.emplace_back(&element, depth + 1);
    }
    return false;
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

std::optional<std::string> stringValue(const Json& value) {
    if (!value.is_string()) return std::nullopt;
    return value.get<std::string>();
}

std::optional<bool> boolValue(const Json& value) {
    if (!value.is_boolean()) return std::nullopt;
    return value.get<bool>();
}

std::optional<std::int64_t> integerValue(const Json& value, std::int64_t min, std::int64_t max) {
    std::int64_t result = 0;
    if (value.is_number_unsigned()) {
        auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        result = static_cast<std::int64_t>(unsignedValue);
    } else if (value.is_number_integer()) {
        result = value.get<std::int64_t>();
    } else if (value.is_number_float()) {
        double number = value.get<double>();
        // 2^63 is exactly representable; anything at or above it does not fit.
        if (!std::isfinite(number) || std::trunc(number) != number || number < -9223372036854775808.0 ||
            number >= 9223372036854775808.0) {
            return std::nullopt;
        }
        result = static_cast<std::int64_t>(number);
    } else {
        return std::nullopt;
    }
    if (result < min || result > max) return std::nullopt;
    return result;
}

std::optional<double> numberValue(const Json& value) {
    if (!value.is_number()) return std::nullopt;
    return value.get<double>();
}

std::optional<Uuid> uuidValue(const Json& value) {
    if (!value.is_string()) return std::nullopt;
    return Uuid::parse(value.get_ref<const std::string&>());
}

std::optional<std::vector<std::string>> stringArrayValue(const Json& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<std::string> strings;
    strings.reserve(value.size());
    for (const auto& element : value) {
        if (!element.is_string()) return std::nullopt;
        strings.push_back(element.get<std::string>());
    }
    return strings;
}

const Json* presentField(const Json* object, std::string_view key) {
    if (!object || !object->is_object()) return nullptr;
    auto found = object->find(std::string(key));
    return found == object->end() ? nullptr : &*found;
}

const Json* field(const Json* object, std::string_view key) {
    const Json* value = presentField(object, key);
    return value && !value->is_null() ? value : nullptr;
}

std::optional<std::string> stringField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    return value ? stringValue(*value) : std::nullopt;
}

std::optional<bool> boolField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    return value ? boolValue(*value) : std::nullopt;
}

std::optional<std::int64_t> integerField(const Json* object, std::string_view key, std::int64_t min,
                                         std::int64_t max) {
    const Json* value = field(object, key);
    return value ? integerValue(*value, min, max) : std::nullopt;
}

std::optional<double> numberField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    return value ? numberValue(*value) : std::nullopt;
}

std::optional<Uuid> uuidField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    return value ? uuidValue(*value) : std::nullopt;
}

std::optional<std::vector<std::string>> stringArrayField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    return value ? stringArrayValue(*value) : std::nullopt;
}

const Json* objectField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    return value && value->is_object() ? value : nullptr;
}

const Json* arrayField(const Json* object, std::string_view key) {
    const Json* value = field(object, key);
    return value && value->is_array() ? value : nullptr;
}

std::optional<std::string> optString(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    return checked(stringValue(*value), key, "string");
}

std::optional<bool> optBool(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    return checked(boolValue(*value), key, "boolean");
}

std::optional<std::int64_t> optInteger(const Json& object, std::string_view key, std::int64_t min,
                                       std::int64_t max) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    auto result = integerValue(*value);
    if (!result) wrongType(key, "integer");
    if (*result < min || *result > max) wrongType(key, "integer in range");
    return result;
}

std::optional<double> optNumber(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    return checked(numberValue(*value), key, "number");
}

std::optional<Uuid> optUuid(const Json& object, std::string_view key) {
    const Json* value = member(object, key);
    if (!value) return std::nullopt;
    return checked(uuidValue(*value), key, "UUID");
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
    auto text = stringValue(value);
    if (!text) throw DecodeError("expected string");
    return std::move(*text);
}

Uuid asUuid(const Json& value) {
    auto id = uuidValue(value);
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
