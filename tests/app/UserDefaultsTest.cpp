#include "app/UserDefaults.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

using namespace brindle;

TEST(UserDefaultsTest, OnlyAStoredBooleanCountsAndAWriteKeepsOtherKeysOrReplacesABrokenFile) {
    test::TempDir folder;
    UserDefaults defaults(folder / "brindle" / "settings.json");
    EXPECT_EQ(defaults.boolean(kMorselHotkeyEnabled), std::nullopt);  // no file yet
    for (const char* text : {"[true]", R"({"morselHotkeyEnabled": "no"})", "{broken"}) {
        test::writeFile(defaults.file(), text);
        EXPECT_EQ(defaults.boolean(kMorselHotkeyEnabled), std::nullopt) << text;
        defaults.setBoolean(kMorselHotkeyEnabled, false);
        EXPECT_EQ(defaults.boolean(kMorselHotkeyEnabled), false) << text;
    }
    test::writeFile(defaults.file(), R"({"windowX": 40})");
    defaults.setBoolean(kMorselHotkeyEnabled, true);
    EXPECT_NE(test::readFile(defaults.file()).find("\"windowX\": 40"), std::string::npos);
}
