#include <gtest/gtest.h>

#include "common/Text.h"

using namespace brindle;

TEST(UnicodeText, TrimRemovesEveryKindOfWhiteSpaceAtTheEndsOnly) {
    EXPECT_EQ(Text::trimUnicode(" \t\r\n plain \n"), "plain");
    EXPECT_EQ(Text::trimUnicode("\u00A0\u00A0\u3000"), "");  // a clipboard of no-break spaces
    EXPECT_EQ(Text::trimUnicode("\u2003ann@x.org\u202F\u2028\u2029\u0085"), "ann@x.org");
    // inside stays; invalid bytes and zero-width spaces are not white space
    EXPECT_EQ(Text::trimUnicode("\xFF a\u00A0b \u200B\u00A0"), "\xFF a\u00A0b \u200B");
}

TEST(UnicodeText, PrintableKeepsServerTextOnOneHarmlessLine) {
    struct Case {
        const char* given;
        const char* shown;
    };
    for (const Case& each : {
             Case{"ABCD-1234", "ABCD-1234"},
             Case{"x\nSIGNED_IN", "x SIGNED_IN"},
             Case{"a\r\n\tb", "a   b"},
             Case{"\x1B[2Jwiped\x07", "\uFFFD[2Jwiped\uFFFD"},
             Case{"del\x7F c1\u0085 caf\u00E9", "del\uFFFD c1\uFFFD caf\u00E9"},
             Case{"bad\xFF", "bad\uFFFD"},
         }) {
        EXPECT_EQ(Text::printable(each.given), each.shown) << each.given;
    }
}
