#include <gtest/gtest.h>
#include <sys/stat.h>

#include "drives/DriveMarker.h"
#include "drives/DriveStore.h"
#include "support/Expect.h"
#include "support/ScratchMount.h"
#include "support/TempDir.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

const std::string kID = "5a1d0c4e-0000-4000-8000-0000000000a1";

// A volume's marker is untrusted input: it must never hang the sync, exhaust
// memory, lead through a link or name a file outside the state folder.
TEST(DriveMarkerSafetyTest, ReadsOnlySmallRegularMarkersWithAPlainId) {
    auto naming = [](const std::string& id) { return R"({"v":1,"drive_id":")" + id + R"(","created":"x"})"; };
    const std::map<std::string, std::function<void(const fs::path& marker, const fs::path& elsewhere)>> cases{
        {"PathInId", [&](auto& marker, auto&) { writeFile(marker, naming("../../x")); }},
        {"UpperCaseId",
         [&](auto& marker, auto&) { writeFile(marker, naming("5A1D0C4E-0000-4000-8000-0000000000A1")); }},
        {"Oversized", [&](auto& marker, auto&) { writeFile(marker, naming(kID) + std::string(8000, ' ')); }},
        {"NumberId", [&](auto& marker, auto&) { writeFile(marker, R"({"drive_id": 42})"); }},
        {"Array", [&](auto& marker, auto&) { writeFile(marker, R"(["drive_id"])"); }},
        {"Broken", [&](auto& marker, auto&) { writeFile(marker, "{broken"); }},
        {"NoId", [&](auto& marker, auto&) { writeFile(marker, R"({"v": 1})"); }},
        {"Missing", [&](auto&, auto&) {}},
        {"LinkToMarker",
         [&](auto& marker, auto& elsewhere) {
             writeFile(elsewhere, naming(kID));
             fs::create_symlink(elsewhere, marker);
         }},
        {"LinkToEndlessDevice", [&](auto& marker, auto&) { fs::create_symlink("/dev/zero", marker); }},
        {"FIFO", [&](auto& marker, auto&) { ::mkfifo(marker.c_str(), 0600); }},
    };
    for (const auto& [name, place] : cases) {
        TempDir dir;
        fs::create_directories(dir / "volume");
        place(dir / "volume" / DriveMarker::kFileName, dir / "elsewhere");
        EXPECT_EQ(DriveMarker::read(dir / "volume"), std::nullopt) << name;
    }
    TempDir dir;
    DriveMarker::write(dir.path(), kID);
    EXPECT_EQ(DriveMarker::read(dir.path()), kID);
}

TEST(DriveCaseTest, UploadsGoIntoTheDrivesFoldersAsTheyAreCased) {
    TempDir dir;
    writeFile(dir / "USB/Larder/Notes/old.md", "old");
    writeFile(dir / "new.md", "new");
    DriveStore drive(dir / "USB", kID, dir / "hashes.json");
    EXPECT_EQ(drive.upload("notes/new.md", dir / "new.md", std::nullopt).path, "Notes/new.md");
    EXPECT_EQ(filesIn(dir / "USB/Larder"),
              (Tree{{"Notes/new.md", "new"}, {"Notes/old.md", "old"}}));
}

TEST(DriveFullTest, UploadThatRunsOutOfSpaceKeepsTheOldFileAndNoTemporary) {
    TempDir dir;
    ScratchMount volume(dir / "USB", 1 << 20);
    if (!volume.mounted()) GTEST_SKIP() << volume.why();
    writeFile(dir / "USB/Larder/big.bin", std::string(400000, 'o'));
    writeFile(dir / "new.bin", std::string(700000, 'n'));
    DriveStore drive(dir / "USB", kID, dir / "hashes.json");
    drive.setFreeBytes([] { return int64_t{1} << 40; });  // a file system that claims more than it has
    EXPECT_EQ(failureText([&] { drive.upload("big.bin", dir / "new.bin", std::nullopt); }),
              "Couldn't copy it to the drive: No space left on device");
    EXPECT_EQ(filesIn(dir / "USB/Larder"), (Tree{{"big.bin", std::string(400000, 'o')}}));
}

}  // namespace
}  // namespace brindle::test
