#include <gtest/gtest.h>

#include "common/IsoDate.h"
#include "common/Text.h"

using namespace brindle;

TEST(Text, EachFunctionOverItsEdgeCases) {
    struct Case {
        std::string (*function)(const std::string&);
        std::string given, expected;
    };
    auto lossy = [](const std::string& text) { return Text::lossyUTF8(text); };
    auto trim = [](const std::string& text) { return Text::trim(text); };
    auto trimUnicode = [](const std::string& text) { return Text::trimUnicode(text); };
    auto printable = [](const std::string& text) { return Text::printable(text); };
    auto base64 = [](const std::string& text) { return Text::base64(text); };
    auto grouped = [](const std::string& text) { return Text::grouped(std::stoll(text)); };
    const Case cases[] = {
        {lossy, "Gr\u00FC\u00DFe", "Gr\u00FC\u00DFe"},
        {lossy, "a\xFF-", "a\uFFFD-"},
        {lossy, "x\xE2\x82", "x\uFFFD\uFFFD"},  // cut off at the end
        {lossy, "\xC0\xAF", "\uFFFD\uFFFD"},    // an overlong "/"
        {trim, " \n\tx y\r\n", "x y"},
        {trim, "\n\n", ""},
        {trimUnicode, " \t\r\n plain \n", "plain"},
        {trimUnicode, "\u00A0\u00A0\u3000", ""},
        {trimUnicode, "\u2003ann@x.org\u202F\u2028\u2029\u0085", "ann@x.org"},
        {trimUnicode, "\xFF a\u00A0b \u200B\u00A0", "\xFF a\u00A0b \u200B"},  // zero-width is not white space
        {printable, "x\nSIGNED_IN", "x SIGNED_IN"},
        {printable, "a\r\n\tb", "a   b"},
        {printable, "\x1B[2Jwiped\x07", "\uFFFD[2Jwiped\uFFFD"},
        {printable, "del\x7F c1\u0085 caf\u00E9 bad\xFF", "del\uFFFD c1\uFFFD caf\u00E9 bad\uFFFD"},
        {base64, "x-access-token:abc", "eC1hY2Nlc3MtdG9rZW46YWJj"},
        {base64, "a", "YQ=="},
        {grouped, "999", "999"},
        {grouped, "1234567", "1,234,567"},
    };
    for (const Case& each : cases) EXPECT_EQ(each.function(each.given), each.expected) << each.given;
    EXPECT_FALSE(Text::isValidUTF8("\xED\xA0\x80"));  // a lone surrogate
}

TEST(IsoDate, WholeSecondsByDefaultFractionsWhenAsked) {
    EXPECT_EQ(IsoDate::format(*IsoDate::parse("2025-01-01T12:00:00Z")), "2025-01-01T12:00:00Z");
    EXPECT_EQ(IsoDate::format(*IsoDate::parse("2025-01-01T12:00:00-0130")), "2025-01-01T13:30:00Z");
    for (const char* bad : {"2025-01-01T12:00:00", "2025-01-01 12:00:00Z", "2025-02-30T12:00:00Z",
                            "2025-01-01T12:00:00.5Z", "2025-01-01T12:00:00+1:00", "", "tomorrow"})
        EXPECT_FALSE(IsoDate::parse(bad)) << bad;
    EXPECT_DOUBLE_EQ(*IsoDate::parseSeconds("1970-01-01T00:00:01.25Z"), 1.25);
    EXPECT_FALSE(IsoDate::parseSeconds("1970-01-01T00:00:01.Z"));
    EXPECT_EQ(IsoDate::formatSeconds(1.9), "1970-01-01T00:00:01Z");
}
