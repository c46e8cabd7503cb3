#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/EngineConfig.h"
#include "engine/Fingerprint.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

TEST(EngineConfigTest, DefaultsLiveUnderHomeAndTheDataFolder) {
    test::IsolatedHome home;
    test::ScopedEnv unset({{"LARDER_FOLDER", std::nullopt},
                           {"LARDER_STATE_DIR", std::nullopt},
                           {"BRINDLE_PROGRESS_SECONDS", std::nullopt}});
    EngineConfig config = EngineConfig::fromEnvironment();
    EXPECT_EQ(config.folder, home.path() / "Desktop" / "Larder");
    EXPECT_EQ(config.stateDir, home.path() / ".local/share" / "Larder");
    EXPECT_EQ(config.progressSeconds, 5.0);
    EXPECT_FALSE(config.deviceName.empty());
}

TEST(EngineConfigTest, EnvironmentOverridesEachSetting) {
    test::IsolatedHome home;
    test::ScopedEnv set({{"LARDER_FOLDER", "/tmp/elsewhere/Larder"},
                         {"LARDER_STATE_DIR", "/tmp/elsewhere/state"},
                         {"BRINDLE_PROGRESS_SECONDS", "0.25"}});
    EngineConfig config = EngineConfig::fromEnvironment();
    EXPECT_EQ(config.folder, "/tmp/elsewhere/Larder");
    EXPECT_EQ(config.stateDir, "/tmp/elsewhere/state");
    EXPECT_EQ(config.progressSeconds, 0.25);
}

TEST(EngineConfigTest, UnreadableProgressSecondsFallBackToFive) {
    EXPECT_EQ(progressSecondsFrom("soon"), 5.0);
    EXPECT_EQ(progressSecondsFrom("3x"), 5.0);
    EXPECT_EQ(progressSecondsFrom("-1"), 5.0);
}

TEST(EngineConfigTest, ComputerNamePrefersThePrettyName) {
    test::TempDir temp;
    test::writeFile(temp / "machine-info", "CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's \\\"Laptop\\\"\"\n");
    EXPECT_EQ(computerName(temp / "machine-info"), "Ada's \"Laptop\"");
    test::writeFile(temp / "empty-name", "PRETTY_HOSTNAME=\n");
    std::string host = computerName(temp / "missing");
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(computerName(temp / "empty-name"), host);
}

TEST(FingerprintTest, ChangesWithEveryKindOfEditAndOnlyThen) {
    test::TempDir temp;
    fs::path folder = temp / "Larder";
    test::writeFile(folder / "a.txt", "one");
    test::writeFile(folder / "sub" / "b.txt", "two");
    size_t start = fingerprint(folder);
    EXPECT_EQ(fingerprint(folder), start);

    // Same size, new modification time within the same second.
    auto stamp = fs::last_write_time(folder / "a.txt");
    fs::last_write_time(folder / "a.txt", stamp + std::chrono::milliseconds(1));
    size_t touched = fingerprint(folder);
    EXPECT_NE(touched, start);

    test::writeFile(folder / "sub" / "deeper" / "c.txt", "three");
    size_t added = fingerprint(folder);
    EXPECT_NE(added, touched);

    fs::rename(folder / "sub" / "b.txt", folder / "sub" / "renamed.txt");
    EXPECT_NE(fingerprint(folder), added);
}

TEST(FingerprintTest, MissingFolderHashesAsEmptyAndLinksAreNotFollowed) {
    test::TempDir temp;
    EXPECT_EQ(fingerprint(temp / "missing"), fingerprint(temp / "missing-too"));
    fs::path folder = temp / "Larder";
    fs::create_directories(folder);
    fs::create_directories(temp / "outside");
    fs::create_directory_symlink(temp / "outside", folder / "link");
    size_t before = fingerprint(folder);
    test::writeFile(temp / "outside" / "x.txt", "x");
    EXPECT_EQ(fingerprint(folder), before);
}

}  // namespace
}  // namespace brindle
