#include "integrations/Pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>
#include <stdexcept>

#include "common/Text.h"

namespace brindle {

namespace {

struct MatchDataFree {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataFree>;

}  // namespace

Pattern::Pattern(const std::string& expression, unsigned options) {
    // Text reaching the patterns is always well-formed UTF-8 (the process
    // runner replaces invalid bytes), so UTF mode is safe and keeps "." on
    // whole characters.
    uint32_t flags = PCRE2_UTF;
    if (options & kCaseless) flags |= PCRE2_CASELESS;
    if (options & kMultiline) flags |= PCRE2_MULTILINE;
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expression.c_str()), expression.size(), flags, &error, &offset,
                          nullptr);
    if (!code_) throw std::logic_error("bad regular expression: " + expression);
}

Pattern::~Pattern() {
    pcre2_code_free(code_);
}

std::optional<std::string> Pattern::firstGroup(std::string_view given) const {
    // Matching skips the UTF-8 check for speed, so check once here.
    std::string repaired;
    std::string_view text = given;
    if (!Text::isValidUTF8(given)) text = repaired = Text::lossyUTF8(given);
    MatchData data(pcre2_match_data_create_from_pattern(code_, nullptr));
    auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
    PCRE2_SIZE start = 0;
    while (start <= text.size()) {
        int found = pcre2_match(code_, subject, text.size(), start, PCRE2_NO_UTF_CHECK, data.get(), nullptr);
        if (found < 0) return std::nullopt;
        PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
        if (found >= 2 && ovector[2] != PCRE2_UNSET)
            return std::string(text.substr(ovector[2], ovector[3] - ovector[2]));
        // A match without group 1 does not count; look further on.
        start = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
        while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) ++start;
    }
    return std::nullopt;
}

std::vector<std::string> Pattern::allMatches(std::string_view given) const {
    // Matching skips the UTF-8 check for speed, so check once here.
    std::string repaired;
    std::string_view text = given;
    if (!Text::isValidUTF8(given)) text = repaired = Text::lossyUTF8(given);
    std::vector<std::string> matches;
    MatchData data(pcre2_match_data_create_from_pattern(code_, nullptr));
    auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
    PCRE2_SIZE start = 0;
    while (start <= text.size()) {
        int found = pcre2_match(code_, subject, text.size(), start, PCRE2_NO_UTF_CHECK, data.get(), nullptr);
        if (found < 0) break;
        PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
        matches.emplace_back(text.substr(ovector[0], ovector[1] - ovector[0]));
        start = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
        while (start < text.size() && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) ++start;
    }
    return matches;
}

}  // namespace brindle
