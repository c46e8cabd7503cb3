// A mass deletion on either side of the git store waits for the user's word,
// through `brindle --sync-once FOLDER GITDIR ...` and `--confirm-deletions`.
#include <gtest/gtest.h>

#include "GitTestSupport.h"
#include "support/Expect.h"
#include "support/RunProgram.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

class GitSafeguards : public ::testing::Test {
protected:
    // One computer: its folder, and its state folder holding the repository.
    ProgramResult brindle(const std::string& computer, bool confirm = false) const {
        fs::path home = sandbox.root() / computer;
        std::vector<std::string> args{"--confirm-deletions", "GitHub"};
        if (!confirm)
            args = {"--sync-once", folder(computer).string(), (home / "state/sync.git").string(), remote, computer};
        return runBrindle(args, {{"LARDER_STATE_DIR", (home / "state").string()}});
    }
    fs::path folder(const std::string& computer) const { return sandbox.root() / computer / "Larder"; }

    GitSandbox sandbox;
    std::string remote = sandbox.makeRemote();
};

TEST_F(GitSafeguards, MassDeletionOnEitherSideWaitsForConfirmation) {
    for (int i = 0; i < 120; ++i) writeFile(folder("a") / ("f" + std::to_string(i)), "x");
    ASSERT_EQ(brindle("a").status, 0);
    ASSERT_EQ(brindle("b").status, 0);
    for (int i = 0; i < 80; ++i) fs::remove(folder("a") / ("f" + std::to_string(i)));
    writeFile(folder("a") / "new.md", "still committed");
    EXPECT_THAT(brindle("a").err,
                HasSubstr("80 of 120 files are gone from the folder; nothing was deleted in GitHub."));
    EXPECT_EQ(remoteFiles(remote).size(), 121u);
    ASSERT_EQ(brindle("a", true).status, 0);
    ASSERT_EQ(brindle("a").status, 0);
    EXPECT_EQ(remoteFiles(remote).size(), 41u);

    // the other computer is asked in turn before the merge empties its folder
    EXPECT_THAT(brindle("b").err, HasSubstr("80 of 120 files are gone from GitHub; nothing was deleted here."));
    EXPECT_TRUE(fs::exists(folder("b") / "f0"));
    ASSERT_EQ(brindle("b", true).status, 0);
    ASSERT_EQ(brindle("b").status, 0);
    EXPECT_EQ(filesIn(folder("b")).size(), 41u);
    EXPECT_EQ(readFile(folder("b") / "new.md"), "still committed");
}

}  // namespace
}  // namespace brindle::test
