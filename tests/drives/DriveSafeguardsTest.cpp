// The safeguards of `brindle --sync-once` over a folder and a drive: a mass
// deletion waits for the user's word, and ignore rules keep paths out of the
// sync without ever deleting them.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/DeletionGuard.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "drives/DriveMarker.h"
#include "support/DriveProgram.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::DevServer;
using nlohmann::json;

class DriveSafeguardsTest : public test::DriveProgram {
protected:
    static size_t countFiles(const fs::path& root) {
        size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(root)) count += entry.is_regular_file();
        return count;
    }
    // files f0..f(count-1) synced to both sides
    void syncedFiles(int count) {
        for (int i = 0; i < count; ++i)
            writeOld(folder / ("d" + std::to_string(i % 7) + "/f" + std::to_string(i)), "x");
        test::ProgramResult first = brindle({"--sync-once"});
        ASSERT_EQ(first.status, 0) << first.err;
        ASSERT_EQ(countFiles(drive), static_cast<size_t>(count));
    }
    void removeFromDrive(int count) {
        for (int i = 0; i < count; ++i) fs::remove(drive / ("d" + std::to_string(i % 7) + "/f" + std::to_string(i)));
    }
};

TEST_F(DriveSafeguardsTest, MassDeletionWaitsForConfirmation) {
    syncedFiles(2000);
    removeFromDrive(1200);
    writeOld(drive / "new.md", "the rest of the pass still runs");

    test::ProgramResult held = brindle({"--sync-once"});
    EXPECT_NE(held.status, 0);
    EXPECT_NE(held.err.find("1,200 of 2,000 files are gone from Stick; nothing was deleted here."), std::string::npos)
        << held.err;
    EXPECT_EQ(countFiles(folder), 2001u);
    EXPECT_EQ(test::readFile(folder / "new.md"), "the rest of the pass still runs");
    EXPECT_NE(brindle({"--sync-once"}).status, 0) << "held again until confirmed";

    ASSERT_EQ(brindle({"--confirm-deletions", "Stick"}).status, 0);
    test::ProgramResult confirmed = brindle({"--sync-once"});
    ASSERT_EQ(confirmed.status, 0) << confirmed.err;
    EXPECT_EQ(countFiles(folder), 801u);
    EXPECT_EQ(countFiles(drive), 801u);
}

TEST_F(DriveSafeguardsTest, KeepingThemPutsTheFilesBackAndFewerThanTheFloorGoAtOnce) {
    syncedFiles(60);
    removeFromDrive(55);
    ASSERT_NE(brindle({"--sync-once"}).status, 0);
    DeletionGuard::answer(temp / "state", "Stick", DeletionGuard::Answer::keepThem);
    test::ProgramResult kept = brindle({"--sync-once"});
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(countFiles(drive), 60u);

    removeFromDrive(40);
    test::ProgramResult few = brindle({"--sync-once"});
    ASSERT_EQ(few.status, 0) << few.err;
    EXPECT_EQ(countFiles(folder), 20u);
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
    test::ProgramResult first = brindle({"--sync-once"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(test::readFile(drive / ".brindleignore"), rules);
    EXPECT_FALSE(fs::exists(folder / "from-stick.tmp"));

    test::TempDir repo;
    test::git(repo.path().string(), {"init", "-q"});
    test::writeFile(repo / ".gitignore", rules);
    for (const std::string& path : paths) {
        bool ignored =
            test::runProgram({"/usr/bin/git", "-C", repo.path().string(), "check-ignore", "-q", path}).status == 0;
        EXPECT_EQ(fs::exists(drive / path), !ignored) << path;
    }

    // A rule for a file already on both sides leaves it on both, even when
    // one side then deletes it.
    writeOld(folder / ".brindleignore", rules + "notes.md\n");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    EXPECT_TRUE(fs::exists(drive / "notes.md"));
    fs::remove(drive / "notes.md");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);
    EXPECT_EQ(test::readFile(folder / "notes.md"), "notes.md");
}

}  // namespace
}  // namespace brindle
