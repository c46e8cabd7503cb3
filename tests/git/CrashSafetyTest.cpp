// Kills the sync process at random moments and at chosen system calls while a
// second computer keeps pushing, then lets passes run to the end: no file may
// be lost, no conflict marker committed, and every copy must converge.
#include <iostream>
#include <random>

#include "GitTestSupport.h"
#include "support/Expect.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

// Computers A (0) and B (1), each writing only files of its own, and what
// each of those files should hold (nothing once deleted).
class CrashHarness {
public:
    explicit CrashHarness(unsigned seed) : random_(seed) {}

    std::vector<std::string> sync(int computer) const {
        return {BRINDLE_BIN,
                "--sync-once",
                folder(computer).string(),
                (sandbox_.root() / (std::string(1, "AB"[computer]) + ".git")).string(),
                remote_,
                computer == 0 ? "Mac A" : "Lab/B"};
    }
    void add(int computer) {
        int n = next_[computer]++;
        put(computer, std::string(1, "ab"[computer]) + "/" + std::to_string(n / 100) + "/f" + std::to_string(n));
    }
    // A pass of A, cut short by SIGKILL after delay or (under strace) at its
    // whenth rename or write, while B syncs too, after some additions, edits
    // and deletions on both computers.
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
        // as a real server guarantees: a client killed mid-push never leaves its branch locked
        for (const auto& [path, content] : filesIn(bare_))
            if (path.ends_with(".lock")) fs::remove(bare_ / path);
    }
    // Passes without interruption until both computers and the remote agree,
    // then nothing lost, stale or stray, and no conflict marker committed.
    void settleAndVerify() const {
        for (int computer : {0, 1, 0, 1}) {
            ProgramResult result = runProgram(sync(computer));
            ASSERT_EQ(result.status, 0) << result.err;
        }
        Tree expected;
        for (const auto& owned : expected_)
            for (const auto& [path, content] : owned)
                if (content) expected[path] = *content;
        EXPECT_TRUE(filesIn(folder(0)) == expected) << "lost, stale or stray files such as conflict copies";
        EXPECT_TRUE(filesIn(folder(1)) == expected);
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

// Kills at random moments over several passes, then at chosen calls.
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
    std::string log = readFile(std::getenv("LARDER_LOG"));  // what the kills left for recovery, for the reader
    for (const char* line : {"Removed stale git lock", "Rolled back an interrupted", "Folder was missing",
                             "Merged remote changes", "Push rejected"})
        std::cout << "  " << line << ": " << occurrences(log, line) << "\n";
}

TEST(GitCrashSafety, KilledPassesLoseNothingAndConverge) {
    exercise(300, 10, {1, 2, 3, 5, 8, 13, 21});
}

TEST(GitCrashSafety, KilledPassesOverTwoThousandFiles) {
    exercise(2000, 6, {3, 7});
}

}  // namespace
}  // namespace brindle::test
