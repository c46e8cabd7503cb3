#include "common/Text.h"

#include <cctype>

#include <openssl/evp.h>
#include <utf8proc.h>

#include <algorithm>
#include <utility>

namespace brindle::Text {

namespace {

// Length of the well-formed UTF-8 sequence at the start of bytes, or 0.
size_t validSequenceLength(std::string_view bytes) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// The code point at the start of text and its length in bytes; length 0 for
// an invalid sequence.
std::pair<utf8proc_int32_t, size_t> codePointAt(std::string_view text) {
    utf8proc_int32_t code = -1;
    utf8proc_ssize_t length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                               static_cast<utf8proc_ssize_t>(text.size()), &code);
    return {code, length > 0 ? static_cast<size_t>(length) : 0};
}

bool isUnicodeSpace(utf8proc_int32_t code) {
    if ((code >= 0x09 && code <= 0x0D) || code == 0x85) return true;
    utf8proc_category_t category = utf8proc_category(code);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::string lossyUTF8(std::string_view bytes) {
    std::string result;
    result.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        size_t length = validSequenceLength(bytes.substr(i));
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            ++i;
        } else {
            result.append(bytes.substr(i, length));
            i += length;
        }
    }
    return result;
}

bool isValidUTF8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        size_t length = validSequenceLength(bytes.substr(i));
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string trim(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isSpace(text[begin])) ++begin;
    while (end > begin && isSpace(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string trimUnicode(std::string_view text) {
    size_t start = text.size(), end = 0;
    for (size_t at = 0; at < text.size();) {
        auto [code, length] = codePointAt(text.substr(at));
        size_t next = at + (length > 0 ? length : 1);  // an invalid byte is kept, and is not space
        if (length == 0 || !isUnicodeSpace(code)) {
            start = std::min(start, at);
            end = next;
        }
        at = next;
    }
    return start < end ? std::string(text.substr(start, end - start)) : std::string();
}

std::string printable(std::string_view text) {
    std::string valid = lossyUTF8(text);
    std::string result;
    result.reserve(valid.size());
    for (size_t at = 0; at < valid.size();) {
        auto [code, length] = codePointAt(std::string_view(valid).substr(at));
        if (code == '\t' || code == '\n' || code == '\r')
            result += ' ';
        else if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            result += "\xEF\xBF\xBD";
        else
            result.append(valid, at, length);
        at += length;
    }
    return result;
}

std::string base64(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(written));
    return out;
}

std::string lowerASCII(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (true) {
        size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string grouped(long long number) {
    std::string digits = std::to_string(number < 0 ? -number : number);
    std::string out;
    int count = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (count > 0 && count % 3 == 0) out.insert(out.begin(), ',');
        out.insert(out.begin(), *it);
        ++count;
    }
    return number < 0 ? "-" + out : out;
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
    std::string text;
    for (const std::string& item : items) {
        if (&item != &items.front()) text += separator;
        text += item;
    }
    return text;
}

std::string firstCharacters(std::string_view text, size_t count) {
    size_t at = 0;
    for (size_t taken = 0; at < text.size() && taken < count; ++taken) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    }
    return std::string(text.substr(0, at));
}

std::string percentEncoded(std::string_view text, std::string_view keep) {
    static const char* hex = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
            keep.find(static_cast<char>(c)) != std::string_view::npos) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += hex[c >> 4];
            encoded += hex[c & 15];
        }
    }
    return encoded;
}

uint64_t checksum(std::string_view bytes, uint64_t before) {
    uint64_t hash = before;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ULL;
    return hash;
}

}  // namespace brindle::Text
