#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

// Tolerant reads of fields of a JSON object that came from outside: a field
// that is missing or of another type reads as absent, never as an exception.
namespace brindle::JsonFields {

// object[key] when object is an object and the field is a text.
std::optional<std::string> text(const nlohmann::json& object, const char* key);

// object[key] when it is a whole number (a JSON integer).
std::optional<long long> wholeNumber(const nlohmann::json& object, const char* key);

// true only when object[key] is the JSON value true.
bool isTrue(const nlohmann::json& object, const char* key);

// The field when it is an object / an array, else nullptr.
const nlohmann::json* object(const nlohmann::json& object, const char* key);
const nlohmann::json* array(const nlohmann::json& object, const char* key);

}  // namespace brindle::JsonFields
