#include "engine/EngineConfig.h"

#include <gtest/gtest.h>

#include "engine/Fingerprint.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

TEST(EngineConfigTest, EnvironmentOverridesEachSettingAndTheComputerNameIsThePrettyOne) {
    test::IsolatedHome home;
    test::ScopedEnv set({{"LARDER_FOLDER", "/tmp/elsewhere/Larder"},
                         {"LARDER_STATE_DIR", "/tmp/elsewhere/state"},
                         {"BRINDLE_PROGRESS_SECONDS", "0.25"}});
    EngineConfig config = EngineConfig::fromEnvironment();
    EXPECT_EQ(config.folder, "/tmp/elsewhere/Larder");
    EXPECT_EQ(config.stateDir, "/tmp/elsewhere/state");
    EXPECT_EQ(config.progressSeconds, 0.25);
    for (const char* unreadable : {"soon", "3x", "-1"}) EXPECT_EQ(progressSecondsFrom(unreadable), 5.0);

    test::writeFile(home.path() / "machine-info", "CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ada's \\\"Laptop\\\"\"\n");
    EXPECT_EQ(computerName(home.path() / "machine-info"), "Ada's \"Laptop\"");
    test::writeFile(home.path() / "empty-name", "PRETTY_HOSTNAME=\n");
    std::string host = computerName(home.path() / "missing");
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(computerName(home.path() / "empty-name"), host);
}

TEST(FingerprintTest, ChangesWithEveryKindOfEditButNotBeyondALink) {
    test::TempDir temp;
    fs::path folder = temp / "Larder";
    EXPECT_EQ(fingerprint(folder), fingerprint(temp / "missing-too"));  // a missing folder hashes as empty
    test::writeFile(folder / "a.txt", "one");
    test::writeFile(folder / "sub" / "b.txt", "two");
    fs::create_directories(temp / "outside");
    fs::create_directory_symlink(temp / "outside", folder / "link");
    std::vector<size_t> seen{fingerprint(folder)};
    auto changed = [&] {
        seen.push_back(fingerprint(folder));
        return std::count(seen.begin(), seen.end(), seen.back()) == 1;
    };
    EXPECT_FALSE(changed());
    test::writeFile(temp / "outside" / "x.txt", "x");
    EXPECT_FALSE(changed());
    fs::last_write_time(folder / "a.txt", fs::last_write_time(folder / "a.txt") + std::chrono::milliseconds(1));
    EXPECT_TRUE(changed());  // same size, new time within the same second
    test::writeFile(folder / "sub" / "deeper" / "c.txt", "three");
    EXPECT_TRUE(changed());
    fs::rename(folder / "sub" / "b.txt", folder / "sub" / "renamed.txt");
    EXPECT_TRUE(changed());
}

}  // namespace
}  // namespace brindle
