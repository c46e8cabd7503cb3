// Passes that find what an interrupted pass left behind must carry on without
// wedging and without committing the debris of a half-done merge.
#include <gtest/gtest.h>

#include "GitTestSupport.h"
#include "support/Expect.h"
#include "support/RunProgram.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

class Recovery : public ::testing::Test {
protected:
    Recovery() {
        a.write("plan.md", "base\n");
        a.syncer->sync();
        b.syncer->sync();
    }

    GitSandbox sandbox;
    std::string remote = sandbox.makeRemote();
    Computer a{sandbox, "Mac A", remote}, b{sandbox, "Mac B", remote};
};

TEST_F(Recovery, StaleLocksOfAKilledGitAreRemoved) {
    a.write("new.txt", "new");
    writeFile(a.gitDir / "index.lock", "");
    writeFile(a.gitDir / "refs/remotes/origin/main.lock", "");
    a.syncer->sync();
    EXPECT_THAT(sandbox.log(), HasSubstr("Removed stale git lock index.lock"));
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"new.txt", "plan.md"}));
}

TEST_F(Recovery, AHalfDoneMergeIsRedoneWithoutCommittingConflictMarkers) {
    // given A in the middle of a conflicted merge of B's edit, as a pass that
    // stopped right after "git merge" would leave it
    b.write("plan.md", "from B\n");
    b.syncer->sync();
    a.write("plan.md", "from A\n");
    a.git({"add", "-A"});
    a.git({"-c", "user.name=Mac A", "-c", "user.email=a@a", "commit", "-qm", "A edit"});
    a.git({"fetch", "-q", "origin"});
    runProgram({"/usr/bin/git", "--git-dir=" + a.gitDir.string(), "--work-tree=" + a.folder.string(), "-C",
                a.folder.string(), "merge", "-q", "--no-edit", "refs/remotes/origin/main"});
    ASSERT_THAT(a.read("plan.md"), HasSubstr("<<<<<<<"));
    a.syncer->sync();
    EXPECT_THAT(a.git({"log", "--all", "-p"}), Not(HasSubstr("+<<<<<<<")));
    std::vector<std::string> files = a.files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(a.read("plan.md") + a.read(files[0]), "from A\nfrom B\n");  // "plan (conflict from Mac B ...).md"
    b.syncer->sync();
    EXPECT_EQ(b.files(), a.files());
}

TEST_F(Recovery, OurNoteOfAnInterruptedMergeRollsBackWhatItWrote) {
    // given a merge that wrote B's new file and a partial copy of B's edit,
    // then stopped before git recorded anything
    b.write("plan.md", "from B, a longer text\n");
    b.write("added-by-b.txt", "b");
    b.syncer->sync();
    a.git({"fetch", "-q", "origin"});
    std::string start = a.git({"rev-parse", "HEAD"}), target = a.git({"rev-parse", "refs/remotes/origin/main"});
    start.pop_back();
    target.pop_back();
    writeFile(a.gitDir / "brindle-operation", "merge" + std::string(1, '\0') + start + std::string(1, '\0') + target);
    a.write("added-by-b.txt", "b");
    a.write("plan.md", "from B, a lon");
    a.write("mine.txt", "written after the crash");
    a.syncer->sync();
    EXPECT_THAT(sandbox.log(), HasSubstr("Rolled back an interrupted merge"));
    EXPECT_EQ(a.read("plan.md"), "from B, a longer text\n");
    EXPECT_EQ(a.files(), (std::vector<std::string>{"added-by-b.txt", "mine.txt", "plan.md"}));
    EXPECT_EQ(remoteFiles(remote), a.files());
}

TEST_F(Recovery, ADetachedHeadAndARebaseInProgressAreLeftKeepingTheFiles) {
    a.git({"checkout", "-q", "--detach"});
    fs::create_directories(a.gitDir / "rebase-merge");
    a.write("plan.md", "edited while detached\n");
    a.syncer->sync();
    EXPECT_EQ(a.git({"symbolic-ref", "HEAD"}), "refs/heads/main\n");
    b.syncer->sync();
    EXPECT_EQ(b.read("plan.md"), "edited while detached\n");
}

}  // namespace
}  // namespace brindle::test
