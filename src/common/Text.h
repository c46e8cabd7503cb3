#pragma once

#include <cstdint>
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

// text without Unicode white space at both ends: besides the ASCII spaces and
// line breaks also U+0085, no-break spaces (U+00A0, U+202F), the other
// spaces of category Zs and the line and paragraph separators. Invalid
// UTF-8 is kept byte for byte.
std::string trimUnicode(std::string_view text);

// text made safe to print as part of one line of output: invalid UTF-8
// becomes U+FFFD, tabs and line breaks become spaces, and every other
// control character (C0, DEL, C1) becomes U+FFFD, so that a text from a
// server cannot forge lines or terminal escapes.
std::string printable(std::string_view text);

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

// The first count Unicode characters of UTF-8 text (whole sequences).
std::string firstCharacters(std::string_view text, size_t count);

// Bytes outside the unreserved set (letters, digits, "-_.~") and keep written
// as %XX, e.g. for a URL query or a file URI.
std::string percentEncoded(std::string_view text, std::string_view keep = "");

// A 64-bit checksum of bytes (FNV-1a), to tell a damaged file from a sound
// one; not a defence against deliberate change. Bytes given in pieces: pass
// the checksum of the pieces before as `before`.
constexpr uint64_t kChecksumStart = 14695981039346656037ULL;
uint64_t checksum(std::string_view bytes, uint64_t before = kChecksumStart);

}  // namespace brindle::Text
