#include <gtest/gtest.h>

#include "support/TempDir.h"
#include "ui/AutostartEntry.h"

using namespace brindle;
using namespace brindle::ui;

namespace {

// On and off twice leaves the home as it was, with or without other entries.
TEST(AutostartEntryTest, TheAutostartEntryStartsTheProgramAndGoesAwayWhenSwitchedOff) {
    test::IsolatedHome home;
    AutostartEntry::setEnabled(true, "/opt/my \"apps\"/brindle");
    std::string entry = test::readFile(AutostartEntry::file());
    EXPECT_NE(entry.find("Exec=\"/opt/my \\\"apps\\\"/brindle\"\n"), std::string::npos) << entry;
    EXPECT_TRUE(AutostartEntry::enabled());
    test::writeFile(AutostartEntry::file(), entry + "Hidden=true\n");  // a desktop's own switch-off
    EXPECT_FALSE(AutostartEntry::enabled());
    std::filesystem::path folder = AutostartEntry::file().parent_path();
    for (bool othersThere : {false, true}) {
        if (othersThere) test::writeFile(folder / "other.desktop", "[Desktop Entry]\n");
        for (bool on : {false, true, false}) AutostartEntry::setEnabled(on, "/usr/bin/brindle");
        EXPECT_EQ(std::filesystem::exists(folder), othersThere);
    }
    EXPECT_EQ(test::readFile(folder / "other.desktop"), "[Desktop Entry]\n");
}

}  // namespace
