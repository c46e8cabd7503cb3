#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brindle::Text {

// bytes as UTF-8 with every invalid sequence replaced by U+FFFD.
std::string lossyUTF8(std::string_view bytes);

// true when bytes are well-formed UTF-8.
bool isValidUTF8(std::string_view bytes);

// text without white space and line breaks at both ends.
std::string trim(std::string_view text);

// Standard Base64 with padding and no line breaks.
std::string base64(std::string_view bytes);

// ASCII letters lowered; other bytes unchanged.
std::string lowerASCII(std::string_view text);

// text split at every occurrence of separator (empty pieces kept).
std::vector<std::string> split(std::string_view text, char separator);

bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);

// items joined by separator, e.g. {"a", "b"} and ", " -> "a, b".
std::string joined(const std::vector<std::string>& items, std::string_view separator);

// A whole number with thousands grouped by ",", e.g. 1234 -> "1,234".
std::string grouped(long long number);

}  // namespace brindle::Text
