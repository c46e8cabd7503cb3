#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "GitTestSupport.h"
#include "support/RunProgram.h"

using namespace brindle;
using namespace brindle::test;
namespace fs = std::filesystem;

class SyncOnceFolderMode : public ::testing::Test {
protected:
    std::map<std::string, std::string> env() const {
        return {{"GIT_CONFIG_GLOBAL", "/dev/null"}, {"GIT_CONFIG_NOSYSTEM", "1"}};
    }
    GitSandbox sandbox;
    std::string remote = sandbox.makeRemote();
};

TEST_F(SyncOnceFolderMode, SyncsQuietlyAndExitsZero) {
    writeFile(sandbox.root() / "folder" / "a.txt", "a");
    ProgramResult result = runBrindle({"--sync-once", (sandbox.root() / "folder").string(),
                                       (sandbox.root() / "state.git").string(), remote, "Desk 1"},
                                      env());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"a.txt"}));
}

TEST_F(SyncOnceFolderMode, TwoPassesOnOneRepositoryAtOnceTakeTurns) {
    // given the tray app and a command-line pass syncing the same folder
    const fs::path folder = sandbox.root() / "folder";
    for (int i = 0; i < 50; ++i) writeFile(folder / ("f" + std::to_string(i)), "x");
    const std::vector<std::string> args{"--sync-once", folder.string(), (sandbox.root() / "state.git").string(), remote,
                                        "Desk"};
    ProgramResult first, second;
    std::thread other([&] { first = runBrindle(args, env()); });
    second = runBrindle(args, env());
    other.join();
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(remoteFiles(remote).size(), 50u);
}

TEST_F(SyncOnceFolderMode, BadOperandsGiveOneErrorLineAndChangeNothing) {
    const fs::path folder = sandbox.root() / "folder";
    writeFile(folder / "a.txt", "a");
    writeFile(sandbox.root() / "plain-file", "x");
    fs::create_directories(sandbox.root() / "locked");
    fs::permissions(sandbox.root() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const std::string state = (sandbox.root() / "state.git").string();
    // Permission bits do not stop root; /proc takes no new folders from anyone.
    const std::string unwritable =
        ::geteuid() == 0 ? "/proc/brindle-no-such/sync.git" : (sandbox.root() / "locked" / "sync.git").string();
    const std::vector<std::vector<std::string>> cases{
        {folder.string(), state, "", "Desk"},
        {(sandbox.root() / "plain-file").string(), state, remote, "Desk"},
        {folder.string(), unwritable, remote, "Desk"},
        {folder.string(), (folder / "state.git").string(), remote, "Desk"},
        {folder.string(), (sandbox.root() / "plain-file" / "sync.git").string(), remote, "Desk"},
    };
    for (const auto& operands : cases) {
        std::vector<std::string> args{"--sync-once"};
        args.insert(args.end(), operands.begin(), operands.end());
        ProgramResult result = runBrindle(args, env());
        EXPECT_EQ(result.status, 1) << operands[0] << " " << operands[1];
        EXPECT_EQ(result.err.rfind("error: ", 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    EXPECT_FALSE(fs::exists(state));
    EXPECT_EQ(readFile(sandbox.root() / "plain-file"), "x");
    EXPECT_TRUE(fs::is_empty(sandbox.root() / "locked"));
    EXPECT_TRUE(remoteFiles(remote).empty());
    EXPECT_EQ(fs::directory_iterator(folder)->path().filename(), "a.txt");
}
