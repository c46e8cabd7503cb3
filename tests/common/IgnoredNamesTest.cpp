#include <gtest/gtest.h>

#include "common/IgnoredNames.h"

namespace brindle {
namespace {

// Names are screened before the patterns are tried: the screen must let
// through every name a pattern takes, and only names the patterns decide.
TEST(IgnoredNamesTest, EveryPatternIsTakenAndItsNearMissesAreNot) {
    for (const char* name :
         {".DS_Store", "._photo.jpg", "Icon\r", "Icon\r\r", ".report.pdf.icloud", "x.icloud", "~$budget.xlsx",
          ".~lock.plan.odt#", "notes.md.swp", "notes.md~", "~", ".#notes.md", ".nfs0000000001a2b3c4",
          ".goutputstream-QX81ZZ", ".directory", ".Trash-1000", ".brindle-tmp-123456789abc"})
        EXPECT_TRUE(IgnoredNames::matches(name)) << name;
    for (const char* name : {"Icon", "Icons.png", "IMG_0001.jpg", "notes.md", "icloud", "x.icloud.md", "$budget",
                             "~budget", "swp", "notes.swp.md", "~notes.md", "plan.odt#", "directory"})
        EXPECT_FALSE(IgnoredNames::matches(name)) << name;
}

}  // namespace
}  // namespace brindle
