// `brindle --sync-once` over a folder and a drive, the way users meet it.
#include <thread>

#include "common/DeletionGuard.h"
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
        for (auto& path : pathsIn(folder)) count += path.find("(conflict from Stick") != std::string::npos;
        return count;
    }
    // Every file differs between the folder and the drive, with no history.
    void makeDiffering() {
        for (int i = 0; i < kFiles; ++i) {
            writeOld(folder / ("f" + std::to_string(i)), "here " + std::to_string(i));
            writeOld(drive / ("f" + std::to_string(i)), "there " + std::to_string(i));
        }
    }
    // Both sides hold our version of each file, one copy of the drive's, and nothing else.
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
    static std::string name(int i) { return "d" + std::to_string(i % 7) + "/f" + std::to_string(i); }
    void removeFromDrive(int from, int count) {
        for (int i = from; i < from + count; ++i) fs::remove(drive / name(i));
    }
    void expectCounts(size_t here, size_t there) {
        EXPECT_EQ(std::pair(filesIn(folder).size(), filesIn(drive).size()), std::pair(here, there));
    }
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
        EXPECT_EQ(occurrences(result.err, "Warning: "), 1u) << result.err;  // among the log lines, one of its own
        EXPECT_THAT(result.err,
                    HasSubstr("\nWarning: 1 file(s) are not kept in step (each is named in the log). "
                              "First: Stick: caf\xef\xbf\xbd.txt: its name on the drive is not valid UTF-8\n"));
        EXPECT_THAT(server.brindle().reports().back()["status"][0].value("detail", ""),
                    HasSubstr("1 file(s) not synced: caf"));
    }
    EXPECT_EQ(occurrences(readFile(home.logFile()), "Not syncing caf"), 2u);
    EXPECT_EQ(readFile(folder / "ok.txt"), "fine");
}
TEST_F(DriveSyncOnceTest, MassDeletionWaitsForTheUsersWordAndFewerThanTheFloorGoAtOnce) {
    for (int i = 0; i < 1100; ++i) writeOld(folder / name(i), "x");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    removeFromDrive(0, 1060);
    writeOld(drive / "new.md", "the rest of the pass still runs");
    ProgramResult held = brindle({"--sync-once"});
    EXPECT_NE(held.status, 0);
    EXPECT_THAT(held.err, HasSubstr("1,060 of 1,100 files are gone from Stick; nothing was deleted here."));
    EXPECT_EQ(readFile(folder / "new.md"), "the rest of the pass still runs");
    expectCounts(1101, 41);
    EXPECT_NE(brindle({"--sync-once"}).status, 0) << "held again until answered";
    DeletionGuard::answer(temp / "state", "Stick", DeletionGuard::Answer::keepThem);
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    expectCounts(1101, 1101);  // put back on the drive
    removeFromDrive(0, 1060);
    ASSERT_NE(brindle({"--sync-once"}).status, 0);
    ASSERT_EQ(brindle({"--confirm-deletions", "Stick"}).status, 0);
    ASSERT_EQ(syncOnce().status, 0);
    expectCounts(41, 41);
    removeFromDrive(1060, 30);  // most of what is left, but no more than the floor
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    expectCounts(11, 11);
}
TEST_F(DriveSyncOnceTest, IgnoreRulesMatchGitAndNeverDelete) {
    // every kind of line git knows, checked path by path against git's own answer
    const std::string rules =
        "*.tmp\nbuild/\n!keep.tmp\n/only-root.txt\n**/cache/**\ndocs/*.pdf\n# note\n\\#hash\nlogs/\n"
        "!logs/keep.log\nsecret*\n!secret.pub\na/**/z\n*.o \n[ab].txt\n?.md\n";
    const std::vector<std::string> paths{
        "a.tmp",      "sub/b.tmp",  "keep.tmp",   "build/out.o",  "sub/build/x", "only-root.txt", "sub/only-root.txt",
        "x/cache/y",  "notes.md",   "docs/a.pdf", "docs/s/a.pdf", "a.pdf",       "#hash",         "logs/keep.log",
        "logs/other", "secret.key", "secret.pub", "x/secret",     "a/z",         "a/b/c/z",       "b/a/z",
        "x.o",        "a.txt",      "c.txt",      "b.md",         "bb.md"};
    writeOld(folder / ".brindleignore", rules);
    for (const std::string& path : paths) writeOld(folder / path, path);
    writeOld(drive / "from-stick.tmp", "stays on the stick");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    EXPECT_EQ(readFile(drive / ".brindleignore"), rules);
    EXPECT_FALSE(fs::exists(folder / "from-stick.tmp"));
    TempDir repo;
    git(repo.path().string(), {"init", "-q"});
    writeFile(repo / ".gitignore", rules);
    for (const std::string& path : paths)
        EXPECT_EQ(fs::exists(drive / path),
                  runProgram({"/usr/bin/git", "-C", repo.path().string(), "check-ignore", "-q", path}).status != 0)
            << path;
    // a rule for a file already on both sides leaves it on both, even when one side then deletes it
    writeOld(folder / ".brindleignore", rules + "notes.md\n");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    EXPECT_TRUE(fs::exists(drive / "notes.md"));
    fs::remove(drive / "notes.md");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    EXPECT_EQ(readFile(folder / "notes.md"), "notes.md");
}

}  // namespace
}  // namespace brindle::test
