#include <gtest/gtest.h>

#include "threeway/RemoteStore.h"

TEST(PathKey, ComposesThenLowersSoCaseAndFormDoNotMatter) {
    // "Notes/Été.txt" with decomposed accents against the composed lower-case form
    EXPECT_EQ(brindle::pathKey("Notes/E\xCC\x81t\xC3\xA9.txt"), "notes/\xC3\xA9t\xC3\xA9.txt");
    EXPECT_EQ(brindle::pathKey("README.md"), "readme.md");
}
