#include "threeway/ContentHash.h"

#include <ostream>

namespace brindle {

namespace {

// The value of each lower-case hex digit, -1 for anything else (upper-case
// digits are kept as text, so str() gives back what came in).
constexpr std::array<int8_t, 256> kHexValues = [] {
    std::array<int8_t, 256> values{};
    values.fill(-1);
    for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) values[c] = static_cast<int8_t>(c - 'a' + 10);
    return values;
}();

int hexValue(char c) {
    return kHexValues[static_cast<unsigned char>(c)];
}

}  // namespace

ContentHash::ContentHash(std::string_view text) {
    if (text.empty()) return;
    if (text.size() == bytes_.size() * 2) {
        int bad = 0;
        for (size_t i = 0; i < bytes_.size(); ++i) {
            int high = hexValue(text[2 * i]), low = hexValue(text[2 * i + 1]);
            bad |= high | low;  // negative once any digit is not hex
            bytes_[i] = static_cast<uint8_t>(high << 4 | low);
        }
        if (bad >= 0 && !empty()) return;
        bytes_ = {};
    }
    text_ = std::make_unique<std::string>(text);
}

ContentHash::ContentHash(const ContentHash& other)
    : bytes_(other.bytes_), text_(other.text_ ? std::make_unique<std::string>(*other.text_) : nullptr) {}

ContentHash& ContentHash::operator=(const ContentHash& other) {
    if (this != &other) *this = ContentHash(other);
    return *this;
}

std::string ContentHash::str() const {
    if (text_) return *text_;
    if (empty()) return {};
    static const char* kDigits = "0123456789abcdef";
    std::string text(bytes_.size() * 2, '0');
    for (size_t i = 0; i < bytes_.size(); ++i) {
        text[2 * i] = kDigits[bytes_[i] >> 4];
        text[2 * i + 1] = kDigits[bytes_[i] & 15];
    }
    return text;
}

bool operator==(const ContentHash& a, const ContentHash& b) {
    if (!a.text_ != !b.text_) return false;
    if (a.text_) return *a.text_ == *b.text_;
    return a.bytes_ == b.bytes_;
}

std::ostream& operator<<(std::ostream& out, const ContentHash& hash) {
    return out << hash.str();
}

}  // namespace brindle
