#include <gtest/gtest.h>

#include "common/Text.h"

using namespace brindle;

TEST(UnicodeText, TrimRemovesEveryKindOfWhiteSpaceAtTheEndsOnly) {
    struct Case {
        const char* given;
        const char* trimmed;
    };
    for (const Case& each : {
             Case{" \t\r\n plain \n", "plain"}, Case{"\u00A0\u00A0\u00A0", ""},   // a clipboard of no-break spaces
             Case{"\u3000\u2003ann@x.org\u202F\u2028\u2029\u0085", "ann@x.org"},  // ideographic, em, narrow, separators
             Case{"a\u00A0b", "a\u00A0b"},                                        // inside stays
             Case{"\u200Bzero width\u200B", "\u200Bzero width\u200B"},            // not white space
             Case{"\xFF \u00A0", "\xFF"},                                         // invalid bytes are kept
         }) {
        EXPECT_EQ(Text::trimUnicode(each.given), each.trimmed) << each.given;
    }
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
