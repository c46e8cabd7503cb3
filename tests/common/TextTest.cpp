#include <gtest/gtest.h>

#include "common/IsoDate.h"
#include "common/Text.h"

using namespace brindle;

TEST(Text, LossyUTF8ReplacesEachBadByteAndKeepsGoodSequences) {
    EXPECT_EQ(Text::lossyUTF8("Gr\xC3\xBC\xC3\x9F"
                              "e"),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    EXPECT_EQ(Text::lossyUTF8("a\xFF"
                              "b"),
              "a\xEF\xBF\xBD"
              "b");
    // a cut-off sequence at the end and an overlong encoding of "/"
    EXPECT_EQ(Text::lossyUTF8("x\xE2\x82"), "x\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(Text::lossyUTF8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_FALSE(Text::isValidUTF8("\xED\xA0\x80"));  // a lone surrogate
}

TEST(Text, TrimBase64AndGrouping) {
    EXPECT_EQ(Text::trim(" \n\tx y\r\n"), "x y");
    EXPECT_EQ(Text::trim("\n\n"), "");
    EXPECT_EQ(Text::base64("x-access-token:abc"), "eC1hY2Nlc3MtdG9rZW46YWJj");
    EXPECT_EQ(Text::base64("a"), "YQ==");
    EXPECT_EQ(Text::grouped(1234), "1,234");
    EXPECT_EQ(Text::grouped(999), "999");
    EXPECT_EQ(Text::grouped(1234567), "1,234,567");
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
