#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;

namespace brindle {

// A compiled PCRE2 regular expression over UTF-8 text. Compiled once and then
// safe to use from any thread (each match gets its own match data).
class Pattern {
public:
    enum Option : unsigned {
        kNone = 0,
        kCaseless = 1,   // letters match either case
        kMultiline = 2,  // ^ and $ also match at line breaks
    };

    // Throws std::logic_error when the expression does not compile.
    explicit Pattern(const std::string& expression, unsigned options = kNone);
    ~Pattern();
    Pattern(const Pattern&) = delete;
    Pattern& operator=(const Pattern&) = delete;

    // Capture group 1 of the first match that has one, or nothing.
    std::optional<std::string> firstGroup(std::string_view text) const;
    // Every whole match, left to right, not overlapping.
    std::vector<std::string> allMatches(std::string_view text) const;

private:
    pcre2_real_code_8* code_ = nullptr;
};

}  // namespace brindle
