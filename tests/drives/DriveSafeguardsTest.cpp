// The safeguards of `brindle --sync-once` over a folder and a drive: a mass
// deletion waits for the user's word, and ignore rules keep paths out of the
// sync without ever deleting them.
#include "common/DeletionGuard.h"
#include "support/DriveProgram.h"
#include "support/Expect.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

class DriveSafeguardsTest : public DriveProgram {
protected:
    static std::string name(int i) { return "d" + std::to_string(i % 7) + "/f" + std::to_string(i); }
    void removeFromDrive(int from, int count) {
        for (int i = from; i < from + count; ++i) fs::remove(drive / name(i));
    }
    void expectCounts(size_t here, size_t there) {
        EXPECT_EQ(filesIn(folder).size(), here);
        EXPECT_EQ(filesIn(drive).size(), there);
    }
};

TEST_F(DriveSafeguardsTest, MassDeletionWaitsForTheUsersWordAndFewerThanTheFloorGoAtOnce) {
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
    ProgramResult confirmed = brindle({"--sync-once"});
    ASSERT_EQ(confirmed.status, 0) << confirmed.err;
    expectCounts(41, 41);
    removeFromDrive(1060, 30);  // most of what is left, but no more than the floor
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    expectCounts(11, 11);
}

TEST_F(DriveSafeguardsTest, IgnoreRulesMatchGitAndNeverDelete) {
    // Every kind of line git knows, checked path by path against git's own answer.
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

    // A rule for a file already on both sides leaves it on both, even when one side then deletes it.
    writeOld(folder / ".brindleignore", rules + "notes.md\n");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    EXPECT_TRUE(fs::exists(drive / "notes.md"));
    fs::remove(drive / "notes.md");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    EXPECT_EQ(readFile(folder / "notes.md"), "notes.md");
}

}  // namespace
}  // namespace brindle::test
