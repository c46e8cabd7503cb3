#include "threeway/SyncerFixture.h"

#include "drives/DriveStore.h"

using namespace brindle;
using namespace brindle::test;

namespace {

// The reconciler against a real drive folder, as the engine runs it.
class DriveSyncTest : public SyncerTest {
protected:
    fs::path volume = dir / "USB";
    fs::path larder = volume / "Larder";
    std::shared_ptr<DriveStore> drive;

    void SetUp() override {
        SyncerTest::SetUp();
        fs::create_directories(larder);
        drive = std::make_shared<DriveStore>(volume, "drive-1", dir / "state/drive-drive-1-hashes.json");
        syncer = makeSyncer(drive, "Backup/2024");
    }
};

}  // namespace

TEST_F(DriveSyncTest, KeepsFolderAndDriveInStep) {
    write("Notes/a.md", "a");
    write("b.md", "b");
    writeFile(larder / "Photos/c.jpg", "c");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(filesUnder(folder), filesUnder(larder));
    EXPECT_EQ(readFile(larder / "Notes/a.md"), "a");
    EXPECT_EQ(read("Photos/c.jpg"), "c");

    writeFile(larder / "b.md", "b edited on another computer");
    fs::remove(larder / "Photos/c.jpg");
    write("Notes/a.md", "a edited here");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(read("b.md"), "b edited on another computer");
    EXPECT_FALSE(exists("Photos"));  // deleted on the drive, so deleted here
    EXPECT_EQ(readFile(larder / "Notes/a.md"), "a edited here");
    EXPECT_EQ(filesUnder(folder), filesUnder(larder));

    // both edited: the drive's version is kept beside ours, named after the drive
    write("b.md", "ours");
    writeFile(larder / "b.md", "the drive's");
    ASSERT_EQ(sync(), "");
    auto files = filesUnder(folder);
    EXPECT_EQ(files, filesUnder(larder));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_TRUE(files[1].starts_with("b (conflict from Backup-2024 ")) << files[1];
    EXPECT_EQ(read(files[1]), "the drive's");
    EXPECT_EQ(readFile(larder / "b.md"), "ours");
}

TEST_F(DriveSyncTest, DriveWithoutItsFolderFailsAndTouchesNothingHere) {
    for (auto name : {"a", "b", "c"}) write(name, name);
    ASSERT_EQ(sync(), "");
    fs::remove_all(larder);
    EXPECT_EQ(sync(), "The drive has no \"Larder\" folder; was it formatted? Remove it and add it again.");
    EXPECT_EQ(filesUnder(folder).size(), 3u);
    EXPECT_FALSE(fs::exists(larder));
}
