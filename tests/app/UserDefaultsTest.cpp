#include <gtest/gtest.h>

#include "app/UserDefaults.h"
#include "support/TempDir.h"

using namespace brindle;

namespace {

TEST(UserDefaultsTest, OnlyAStoredBooleanCountsAndOtherKeysSurviveAWrite) {
    test::TempDir folder;
    std::filesystem::path file = folder / "brindle" / "settings.json";
    UserDefaults defaults(file);
    EXPECT_EQ(defaults.boolean(kMorselHotkeyEnabled), std::nullopt);  // no file yet

    for (const char* text :
         {"not json", "[true]", R"({"morselHotkeyEnabled": "no"})", R"({"morselHotkeyEnabled": 0})"}) {
        test::writeFile(file, text);
        EXPECT_EQ(defaults.boolean(kMorselHotkeyEnabled), std::nullopt) << text;
    }

    test::writeFile(file, R"({"windowX": 40, "morselHotkeyEnabled": true})");
    defaults.setBoolean(kMorselHotkeyEnabled, false);
    EXPECT_EQ(defaults.boolean(kMorselHotkeyEnabled), false);
    EXPECT_NE(test::readFile(file).find("\"windowX\": 40"), std::string::npos);
}

TEST(UserDefaultsTest, AnUnreadableFileIsReplacedByTheNewSetting) {
    test::TempDir folder;
    UserDefaults defaults(folder / "settings.json");
    test::writeFile(defaults.file(), "{broken");
    defaults.setBoolean(kMorselHotkeyEnabled, true);
    EXPECT_EQ(defaults.boolean(kMorselHotkeyEnabled), true);
}

}  // namespace
