// Passes killed at random moments and chosen calls while another computer pushes lose no file, commit no
// conflict marker and converge; a mass deletion waits for the user's word.
#include <random>

#include "GitTestSupport.h"
#include "support/Expect.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

// Computers A (0) and B (1), each writing files of its own, and what each should hold (nothing once deleted).
class CrashHarness {
public:
    explicit CrashHarness(unsigned seed) : random_(seed) {}

    std::vector<std::string> sync(int computer) const {
        return brindleCommand({"--sync-once", folder(computer).string(), folder(computer).string() + ".git", remote_,
                               computer == 0 ? "Mac A" : "Lab/B"});
    }
    void add(int computer) {
        int n = next_[computer]++;
        put(computer, std::string(1, "ab"[computer]) + "/" + std::to_string(n / 100) + "/f" + std::to_string(n));
    }
    // After edits on both, a pass of A killed after delay or at its whenth rename or write while B syncs.
    void killedPass(std::optional<double> delay, int when = 0) {
        for (int computer : {0, 1}) {
            for (int i = 0; i < 3; ++i) add(computer);
            for (int i = 0; i < 4; ++i) {
                auto it = std::next(expected_[computer].begin(), random_() % expected_[computer].size());
                if (it->second && random_() % 4 == 0) {
                    fs::remove(folder(computer) / it->first);
                    it->second.reset();
                } else if (it->second) {
                    put(computer, it->first);
                }
            }
        }
        ChildProcess a(delay ? sync(0) : killedAtCall(sync(0), "rename,renameat,renameat2,write", when)), b(sync(1));
        a.wait(delay);
        b.wait();
        // as a real server guarantees, a client killed mid-push leaves no branch locked
        for (const auto& [path, content] : filesIn(bare_))
            if (path.ends_with(".lock")) fs::remove(bare_ / path);
    }
    // Whole passes until all agree: nothing lost, stale or stray, and no conflict marker committed.
    void settleAndVerify() const {
        for (int computer : {0, 1, 0, 1}) {
            ProgramResult result = runProgram(sync(computer));
            ASSERT_EQ(result.status, 0) << result.err;
        }
        Tree expected;
        for (const auto& owned : expected_)
            for (const auto& [path, content] : owned)
                if (content) expected[path] = *content;
        for (int computer : {0, 1}) EXPECT_TRUE(filesIn(folder(computer)) == expected) << "lost, stale or stray files";
        EXPECT_EQ(pathsIn(folder(0)), remoteFiles(remote_));
        EXPECT_THAT(runProgram({"/usr/bin/git", "--git-dir=" + bare_.string(), "log", "-p", "--all"}).out,
                    Not(HasSubstr("\n+<<<<<<< ")));
    }

private:
    fs::path folder(int computer) const { return sandbox_.root() / std::string(1, "AB"[computer]); }
    void put(int computer, const std::string& path) {
        expected_[computer][path] = "version " + std::to_string(++version_) + " of " + path + "\n";
        writeFile(folder(computer) / path, *expected_[computer][path]);
    }

    GitSandbox sandbox_;
    std::string remote_ = sandbox_.makeRemote();
    fs::path bare_ = sandbox_.root() / "remote.git";
    std::mt19937 random_;
    int version_ = 0, next_[2] = {0, 0};
    std::map<std::string, std::optional<std::string>> expected_[2];
};

void exercise(int files, int randomKills, const std::vector<int>& whens) {
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    CrashHarness harness(seed);
    for (int i = 0; i < files + 20; ++i) harness.add(i < files ? 0 : 1);
    auto started = std::chrono::steady_clock::now();  // one whole first pass spreads the kills over a pass
    ASSERT_EQ(runProgram(harness.sync(0)).status, 0);
    double passTime = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::mt19937 random(seed);
    for (int i = 0; i < randomKills; ++i) harness.killedPass(passTime * (random() % 1001) / 1000);
    for (int when : whens) harness.killedPass(std::nullopt, when);
    harness.settleAndVerify();
}
TEST(GitCrashSafety, KilledPassesLoseNothingAndConvergeOverAFewOrThousandsOfFiles) {
    exercise(300, 10, {1, 2, 3, 5, 8, 13, 21});
    exercise(2000, 6, {3, 7});
}

class GitSafeguards : public ::testing::Test {
protected:
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
    for (auto computer : {"a", "b"}) ASSERT_EQ(brindle(computer).status, 0);
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
