#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "drives/DriveMarker.h"
#include "drives/DriveStore.h"
#include "support/ScratchMount.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

const char* kID = "5a1d0c4e-0000-4000-8000-0000000000a1";

// A volume's marker is untrusted input: it must never hang the sync, exhaust
// memory, lead through a link or name a file outside the state folder.
struct MarkerCase {
    const char* name;
    std::function<void(const fs::path& marker, const fs::path& elsewhere)> place;
    bool accepted;
};

class DriveMarkerSafetyTest : public ::testing::TestWithParam<MarkerCase> {};

void markerNaming(const fs::path& marker, const std::string& id) {
    test::writeFile(marker, R"({"v":1,"drive_id":")" + id + R"(","created":"2026-01-01T00:00:00Z"})");
}

TEST_P(DriveMarkerSafetyTest, ReadsOnlySmallRegularMarkersWithAPlainId) {
    test::TempDir dir;
    fs::create_directories(dir / "volume");
    GetParam().place(dir / "volume" / DriveMarker::kFileName, dir / "elsewhere");
    std::optional<std::string> id = DriveMarker::read(dir / "volume");
    if (GetParam().accepted)
        EXPECT_EQ(id, kID);
    else
        EXPECT_EQ(id, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Markers, DriveMarkerSafetyTest,
    ::testing::Values(
        MarkerCase{"Plain", [](const fs::path& marker, const fs::path&) { markerNaming(marker, kID); }, true},
        MarkerCase{"PathInId", [](const fs::path& marker, const fs::path&) { markerNaming(marker, "../../x"); }, false},
        MarkerCase{"UpperCaseId",
                   [](const fs::path& marker, const fs::path&) {
                       markerNaming(marker, "5A1D0C4E-0000-4000-8000-0000000000A1");
                   },
                   false},
        MarkerCase{"Oversized",
                   [](const fs::path& marker, const fs::path&) {
                       test::writeFile(marker, R"({"drive_id":")" + std::string(kID) + R"(","pad":")" +
                                                   std::string(8000, ' ') + "\"}");
                   },
                   false},
        MarkerCase{"LinkToMarker",
                   [](const fs::path& marker, const fs::path& elsewhere) {
                       markerNaming(elsewhere, kID);
                       fs::create_symlink(elsewhere, marker);
                   },
                   false},
        MarkerCase{"LinkToEndlessDevice",
                   [](const fs::path& marker, const fs::path&) { fs::create_symlink("/dev/zero", marker); }, false},
        MarkerCase{"FIFO", [](const fs::path& marker, const fs::path&) { ::mkfifo(marker.c_str(), 0600); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DriveCaseTest, UploadsGoIntoTheDrivesFoldersAsTheyAreCased) {
    test::TempDir dir;
    test::writeFile(dir / "USB/Larder/Notes/old.md", "old");
    test::writeFile(dir / "new.md", "new");
    DriveStore drive(dir / "USB", kID, dir / "hashes.json");
    RemoteFile stored = drive.upload("notes/new.md", dir / "new.md", std::nullopt);
    EXPECT_EQ(stored.path, "Notes/new.md");
    EXPECT_EQ(test::readFile(dir / "USB/Larder/Notes/new.md"), "new");
    EXPECT_FALSE(fs::exists(dir / "USB/Larder/notes"));
}

TEST(DriveFullTest, UploadThatRunsOutOfSpaceKeepsTheOldFileAndNoTemporary) {
    test::TempDir dir;
    test::ScratchMount volume(dir / "USB", 1 << 20);
    if (!volume.mounted()) GTEST_SKIP() << volume.why();
    test::writeFile(dir / "USB/Larder/big.bin", std::string(400000, 'o'));
    test::writeFile(dir / "new.bin", std::string(700000, 'n'));
    DriveStore drive(dir / "USB", kID, dir / "hashes.json");
    drive.setFreeBytes([] { return int64_t{1} << 40; });  // a file system that claims more than it has
    std::string error;
    try {
        drive.upload("big.bin", dir / "new.bin", std::nullopt);
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    EXPECT_EQ(error, "Couldn't copy it to the drive: No space left on device");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir / "USB/Larder")) left.push_back(entry.path().filename());
    EXPECT_EQ(left, (std::vector<std::string>{"big.bin"}));
    EXPECT_EQ(test::readFile(dir / "USB/Larder/big.bin"), std::string(400000, 'o'));
}

}  // namespace
}  // namespace brindle
