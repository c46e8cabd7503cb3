#include "service/JsonFields.h"

#include <climits>

namespace brindle::JsonFields {

namespace {

const nlohmann::json* field(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

}  // namespace

std::optional<std::string> text(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = field(object, key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<long long> wholeNumber(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = field(object, key);
    if (!value) return std::nullopt;
    if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<long long>();
    if (value->is_number_unsigned()) {
        auto number = value->get<unsigned long long>();
        if (number <= static_cast<unsigned long long>(LLONG_MAX)) return static_cast<long long>(number);
    }
    return std::nullopt;
}

bool isTrue(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = field(object, key);
    return value && value->is_boolean() && value->get<bool>();
}

const nlohmann::json* object(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = field(object, key);
    return value && value->is_object() ? value : nullptr;
}

const nlohmann::json* array(const nlohmann::json& object, const char* key) {
    const nlohmann::json* value = field(object, key);
    return value && value->is_array() ? value : nullptr;
}

}  // namespace brindle::JsonFields
