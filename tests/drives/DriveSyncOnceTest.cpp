// `brindle --sync-once` over a folder and a drive, the way users meet it:
// passes killed mid-way, two passes at once, deletions taken back from the
// Trash, a full disk and names no store can hold.
#include <thread>

#include "support/DriveProgram.h"
#include "support/Expect.h"
#include "support/ScratchMount.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

class DriveSyncOnceTest : public DriveProgram {
protected:
    ProgramResult syncOnce() const { return brindle({"--sync-once"}); }
    int conflictCopies() const {
        int count = 0;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            count += it->path().filename().string().find("(conflict from Stick") != std::string::npos;
        return count;
    }
    // Every file differs between the folder and the drive, with no history.
    void makeDiffering() {
        for (int i = 0; i < kFiles; ++i) {
            writeOld(folder / ("f" + std::to_string(i)), "here " + std::to_string(i));
            writeOld(drive / ("f" + std::to_string(i)), "there " + std::to_string(i));
        }
    }
    // Both sides hold our version of each file and exactly one copy of the
    // drive's, and nothing else.
    void expectOneCopyEach() {
        Tree here = filesIn(folder);
        EXPECT_TRUE(here == filesIn(drive)) << "the two sides differ";
        EXPECT_EQ(here.size(), 2u * kFiles);
        EXPECT_EQ(conflictCopies(), kFiles);
        for (int i = 0; i < kFiles; ++i) EXPECT_EQ(here["f" + std::to_string(i)], "here " + std::to_string(i));
        for (const auto& [path, content] : here)
            EXPECT_TRUE(path.find("(conflict from Stick") == path.npos || content.starts_with("there ")) << path;
    }
    static constexpr int kFiles = 150;
};

TEST_F(DriveSyncOnceTest, KilledFirstSyncsThenCleanPassesMakeOneConflictCopyEach) {
    makeDiffering();
    for (int target : {5, 25, 45, 65, 85, 105}) {  // kill -9 each time a few more conflicts have been settled
        ChildProcess pass(brindleCommand({"--sync-once"}), env());
        while (!pass.finished() && conflictCopies() < target) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pass.kill();
    }
    for (int clean = 0; clean < 2; ++clean) ASSERT_EQ(syncOnce().status, 0);
    expectOneCopyEach();
}

TEST_F(DriveSyncOnceTest, TwoPassesAtOnceMakeOneConflictCopyEach) {
    makeDiffering();
    ChildProcess first(brindleCommand({"--sync-once"}), env()), second(brindleCommand({"--sync-once"}), env());
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
    expectOneCopyEach();
}

TEST_F(DriveSyncOnceTest, DeletionFromTheDriveGoesToTheTrashAndARestoreIsUploaded) {
    for (auto name : {"a.md", "b.md", "c.md"}) writeOld(folder / name, name);
    ASSERT_EQ(syncOnce().status, 0);
    fs::remove(drive / "b.md");
    ASSERT_EQ(syncOnce().status, 0);
    fs::path trash = home.path() / ".local/share/Trash";
    EXPECT_EQ(filesIn(trash),
              (Tree{{"files/b.md", "b.md"}, {"info/b.md.trashinfo", readFile(trash / "info/b.md.trashinfo")}}));
    fs::rename(trash / "files/b.md", folder / "b.md");  // as a file manager's Restore does
    fs::remove(trash / "info/b.md.trashinfo");
    ASSERT_EQ(syncOnce().status, 0);
    EXPECT_EQ(readFile(drive / "b.md"), "b.md");
}

TEST_F(DriveSyncOnceTest, FullDiskKeepsTheOldFileAndTheNextPassWithSpaceConverges) {
    ScratchMount disk(folder, 1 << 20);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    writeOld(folder / "big.bin", std::string(400000, 'o'));
    ASSERT_EQ(syncOnce().status, 0);
    writeOld(drive / "big.bin", std::string(700000, 'n'));
    ProgramResult full = syncOnce();
    EXPECT_NE(full.status, 0);
    EXPECT_THAT(full.err, HasSubstr("big.bin: No space left on device"));
    EXPECT_EQ(filesIn(folder), (Tree{{"big.bin", std::string(400000, 'o')}}));  // no temporary file either
    ASSERT_TRUE(disk.resize(4 << 20));
    ASSERT_EQ(syncOnce().status, 0);
    EXPECT_EQ(readFile(folder / "big.bin"), std::string(700000, 'n'));
}

TEST_F(DriveSyncOnceTest, NameNoStoreCanHoldIsReportedOnEveryPass) {
    writeOld(drive / "ok.txt", "fine");
    writeOld(drive / std::string("caf\xe9.txt"), "latin-1 name");
    for (int pass = 1; pass <= 2; ++pass) {
        ProgramResult result = syncOnce();
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "Up to date.\n");
        // log lines go to standard error too; the warning is one line of its own
        EXPECT_EQ(occurrences(result.err, "Warning: "), 1u) << result.err;
        EXPECT_THAT(result.err,
                    HasSubstr("\nWarning: 1 file(s) are not kept in step (each is named in the log). "
                              "First: Stick: caf\xef\xbf\xbd.txt: its name on the drive is not valid UTF-8\n"));
        EXPECT_THAT(server.brindle().reports().back()["status"][0].value("detail", ""),
                    HasSubstr("1 file(s) not synced: caf"));
    }
    EXPECT_EQ(occurrences(readFile(home.logFile()), "Not syncing caf"), 2u);
    EXPECT_EQ(readFile(folder / "ok.txt"), "fine");
}

}  // namespace
}  // namespace brindle::test
