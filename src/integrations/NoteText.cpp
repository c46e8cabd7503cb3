#include "integrations/NoteText.h"

#include <utf8proc.h>

#include <algorithm>
#include <ctime>

namespace brindle::NoteText {

std::string slugify(std::string_view text, size_t maxLength) {
    std::string slug;
    bool pending = false;
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t scalar = 0;
        utf8proc_ssize_t used = utf8proc_iterate(bytes, left, &scalar);
        if (used <= 0) used = 1, scalar = 0xFFFD;  // an invalid byte is a separator
        bytes += used;
        left -= used;
        // Lower-case first: a few non-ASCII capitals (the Kelvin sign) lower to ASCII letters.
        utf8proc_int32_t lower = utf8proc_tolower(scalar);
        bool kept = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9');
        if (!kept) {
            pending = true;
            continue;
        }
        if (pending && !slug.empty()) slug += '-';
        slug += static_cast<char>(lower);
        pending = false;
    }
    if (slug.empty()) return "untitled";
    slug.resize(std::min(slug.size(), maxLength));
    size_t first = slug.find_first_not_of('-');
    if (first == std::string::npos) return "";
    size_t last = slug.find_last_not_of('-');
    return slug.substr(first, last - first + 1);
}

std::string lowered(std::string_view text) {
    std::string lower;
    lower.reserve(text.size());
    auto bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t scalar = 0;
        utf8proc_ssize_t used = utf8proc_iterate(bytes, left, &scalar);
        if (used <= 0) {  // keep a stray byte as it is
            lower += static_cast<char>(*bytes);
            ++bytes, --left;
            continue;
        }
        utf8proc_uint8_t encoded[4];
        utf8proc_ssize_t length = utf8proc_encode_char(utf8proc_tolower(scalar), encoded);
        lower.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(length));
        bytes += used;
        left -= used;
    }
    return lower;
}


}  // namespace brindle::NoteText
