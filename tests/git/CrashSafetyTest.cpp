// Kills the sync process at random moments and at chosen system calls while a
// second computer keeps pushing, then lets passes run to the end: no file may
// be lost, no conflict marker committed, and every copy must converge.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>
#include <optional>
#include <random>

#include "GitTestSupport.h"
#include "support/RunProgram.h"

using namespace brindle;
using namespace brindle::test;
namespace fs = std::filesystem;

namespace {

// The files one computer owns (only it writes them), and what they should
// hold: nothing for a file it deleted.
struct Owned {
    std::string prefix;
    std::map<std::string, std::optional<std::string>> expected;
    int next = 0;
    int version = 0;
};

class CrashHarness {
public:
    CrashHarness(int files, unsigned seed) : random_(seed) {
        for (int i = 0; i < files; ++i) add(a_);
        for (int i = 0; i < 20; ++i) add(b_);
        writeAll(a_, aFolder_);
        writeAll(b_, bFolder_);
    }

    std::vector<std::string> syncA() const { return command(aFolder_, aGit_, "Mac A"); }
    std::vector<std::string> syncB() const { return command(bFolder_, bGit_, "Lab/B"); }

    // A pass of A cut short by SIGKILL after delay, while B syncs too.
    void killedPass(std::chrono::microseconds delay) {
        changeSome();
        ChildProcess a(syncA()), b(syncB());
        a.wait(std::chrono::duration<double>(delay).count());
        b.wait();
        serverCleanUp();
    }

    // A pass of A under strace, which kills the process that makes its
    // whenth call of one of calls, while B syncs too.
    void stracedPass(const std::string& calls, int when) {
        changeSome();
        ChildProcess a(killedAtCall(syncA(), calls, when)), b(syncB());
        a.wait();
        b.wait();
        serverCleanUp();
    }

    // Passes without interruption until both computers and the remote agree.
    void settle() {
        for (const auto& pass : {syncA(), syncB(), syncA(), syncB()}) {
            ProgramResult result = runProgram(pass);
            ASSERT_EQ(result.status, 0) << result.err;
        }
    }

    void verify() const {
        std::vector<std::string> inA = files(aFolder_), inB = files(bFolder_);
        EXPECT_EQ(inA, inB);
        EXPECT_EQ(inA, remoteFiles(remote_));
        size_t expectedCount = 0;
        for (const Owned* owner : {&a_, &b_}) {
            for (const auto& [path, content] : owner->expected) {
                if (!content) {
                    EXPECT_FALSE(fs::exists(aFolder_ / path)) << path << " was deleted";
                    continue;
                }
                ++expectedCount;
                EXPECT_EQ(readFile(aFolder_ / path), *content) << path;
                EXPECT_EQ(readFile(bFolder_ / path), *content) << path;
            }
        }
        EXPECT_EQ(inA.size(), expectedCount) << "stray files such as conflict copies";
        std::string bare = remote_.substr(std::string("file://").size());
        ProgramResult history = runProgram({"/usr/bin/git", "--git-dir=" + bare, "log", "-p", "--all"});
        EXPECT_EQ(history.out.find("\n+<<<<<<< "), std::string::npos) << "a conflict marker was committed";
    }

private:
    std::vector<std::string> command(const fs::path& folder, const fs::path& gitDir, const std::string& device) const {
        return {BRINDLE_BIN, "--sync-once", folder.string(), gitDir.string(), remote_, device};
    }

    std::string content(const Owned& owner, const std::string& path) {
        return "version " + std::to_string(++version_) + " of " + path + " by " + owner.prefix + "\n";
    }

    std::string add(Owned& owner) {
        std::string path = owner.prefix + "/" + std::to_string(owner.next / 100) + "/f" + std::to_string(owner.next);
        ++owner.next;
        owner.expected[path] = content(owner, path);
        return path;
    }

    void writeAll(const Owned& owner, const fs::path& folder) const {
        for (const auto& [path, text] : owner.expected)
            if (text) writeFile(folder / path, *text);
    }

    // Some additions, edits and deletions on both computers, each only to the
    // files it owns, applied while no pass of A runs.
    void changeSome() {
        for (auto [owner, folder] : {std::pair{&a_, aFolder_}, {&b_, bFolder_}}) {
            for (int i = 0; i < 3; ++i) {
                std::string path = add(*owner);
                writeFile(folder / path, *owner->expected[path]);
            }
            for (int i = 0; i < 4; ++i) {
                auto it = std::next(owner->expected.begin(), random_() % owner->expected.size());
                if (!it->second) continue;
                if (random_() % 4 == 0) {
                    fs::remove(folder / it->first);
                    it->second.reset();
                } else {
                    it->second = content(*owner, it->first);
                    writeFile(folder / it->first, *it->second);
                }
            }
        }
    }

    // What a real server guarantees: a client killed mid-push never leaves
    // the server's branch locked.
    void serverCleanUp() const {
        std::string bare = remote_.substr(std::string("file://").size());
        for (auto it = fs::recursive_directory_iterator(bare); it != fs::recursive_directory_iterator(); ++it)
            if (it->path().extension() == ".lock") fs::remove(it->path());
    }

    static std::vector<std::string> files(const fs::path& folder) {
        std::vector<std::string> found;
        for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
            if (it->is_regular_file()) found.push_back(fs::relative(it->path(), folder).string());
        std::sort(found.begin(), found.end());
        return found;
    }

    GitSandbox sandbox_;
    std::string remote_ = sandbox_.makeRemote();
    fs::path aFolder_ = sandbox_.root() / "A", aGit_ = sandbox_.root() / "A.git";
    fs::path bFolder_ = sandbox_.root() / "B", bGit_ = sandbox_.root() / "B.git";
    std::mt19937 random_;
    int version_ = 0;
    Owned a_{"a", {}, 0, 0};
    Owned b_{"b", {}, 0, 0};
};

// Kills at random moments over several passes, then at chosen calls.
void exercise(int files, int randomKills, const std::vector<int>& whens) {
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    CrashHarness harness(files, seed);
    // Time one whole first pass of A to spread the kills over a pass.
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(runProgram(harness.syncA()).status, 0);
    auto passTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    std::mt19937 random(seed);
    for (int i = 0; i < randomKills; ++i)
        harness.killedPass(std::chrono::microseconds(random() % (passTime.count() + 1)));
    for (int when : whens) harness.stracedPass("rename,renameat,renameat2,write", when);
    harness.settle();
    harness.verify();
    // What the kills left for recovery to deal with, for whoever reads the run.
    std::string log = readFile(std::getenv("LARDER_LOG"));
    for (const char* line : {"Removed stale git lock", "Rolled back an interrupted", "Folder was missing",
                             "Merged remote changes", "Push rejected"}) {
        size_t count = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
        std::cout << "  " << line << ": " << count << "\n";
    }
}

}  // namespace

TEST(GitCrashSafety, KilledPassesLoseNothingAndConverge) {
    exercise(300, 10, {1, 2, 3, 5, 8, 13, 21});
}

TEST(GitCrashSafety, KilledPassesOverTwoThousandFiles) {
    exercise(2000, 6, {3, 7});
}
