#include "morsels/FileURL.h"

#include "common/Text.h"
#include "morsels/Morsels.h"

#include <cctype>

namespace brindle::FileURL {

namespace {

bool isScheme(const std::string& text, size_t colon) {
    if (colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

[[noreturn]] void notAFileURL(const std::string& text) {
    throw Morsels::Problem("The clipboard holds a file address that isn't a valid file URL: " + text);
}

}  // namespace

std::optional<Location> parse(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || !isScheme(text, colon))
        throw Morsels::Problem("The clipboard holds a file address that isn't a URL: " + text);
    if (Text::lowerASCII(text.substr(0, colon)) != "file") return std::nullopt;

    std::string rest = text.substr(colon + 1);
    // Query and fragment are not part of a file's path.
    rest = rest.substr(0, rest.find_first_of("?#"));
    Location location;
    if (Text::startsWith(rest, "//")) {
        size_t slash = rest.find('/', 2);
        std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        location.local = host.empty() || Text::lowerASCII(host) == "localhost";
        rest = slash == std::string::npos ? "" : rest.substr(slash);
    }
    std::optional<std::string> path = percentDecoded(rest);
    if (!path || path->empty() || (*path)[0] != '/' || path->find('\0') != std::string::npos) notAFileURL(text);
    location.path = *path;
    return location;
}

}  // namespace brindle::FileURL
