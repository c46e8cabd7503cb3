#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "devserver/DevServer.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

extern char** environ;

using namespace brindle;
using test::readFile;
using test::runBrindle;

namespace {

const std::map<std::string, std::string> kNoDisplay{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};

bool isPNG(const std::string& bytes) {
    return bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0;
}

// Polls (in short real steps, up to about 30 seconds) until done() holds.
template <typename Check>
bool eventually(Check done) {
    for (int i = 0; i < 600; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

class TrayProgramTest : public ::testing::Test {
protected:
    test::IsolatedHome home;
};

TEST_F(TrayProgramTest, TheSnapshotDrawsBothAccountStatesWithoutADisplay) {
    std::filesystem::path out = home.path() / "out.png", in = home.path() / "in.png";
    EXPECT_EQ(runBrindle({"--settings-snapshot", out.string()}, kNoDisplay).status, 0);
    EXPECT_EQ(runBrindle({"--settings-snapshot", in.string(), "x"}, kNoDisplay).status, 0);
    EXPECT_TRUE(isPNG(readFile(out)));
    EXPECT_TRUE(isPNG(readFile(in)));
    EXPECT_NE(readFile(out), readFile(in));  // the token controls show only when signed out
}

TEST_F(TrayProgramTest, ASnapshotThatCannotBeWrittenLeavesNothingAndSaysSo) {
    std::filesystem::path target = home.path() / "missing" / "out.png";
    test::ProgramResult result = runBrindle({"--settings-snapshot", target.string()}, kNoDisplay);
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(std::filesystem::exists(target.parent_path()));
}

TEST_F(TrayProgramTest, WithoutADisplayTheTrayGivesOneErrorLine) {
    test::ProgramResult result = runBrindle({}, kNoDisplay, 60);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "error: no display to show the tray icon on (DISPLAY is not set); the command-line modes still work.\n");
    EXPECT_EQ(result.out, "");
}

// Given a running tray (offscreen, so with no tray host), a second start
// asks it for its settings window and leaves; SIGTERM then ends the first.
TEST_F(TrayProgramTest, ASecondStartShowsTheFirstOnesSettingsInsteadOfStartingAgain) {
    devserver::DevServer server;
    server.start();
    std::filesystem::path runtime = home.path() / "run";
    std::filesystem::create_directories(runtime);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("BRINDLE_URL", server.url().c_str(), 1);
    ::setenv("LARDER_FOLDER", (home.path() / "Larder").c_str(), 1);
    const char* argv[] = {BRINDLE_BIN, nullptr};
    pid_t first = 0;
    ASSERT_EQ(::posix_spawn(&first, BRINDLE_BIN, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    bool listening = eventually([&] { return std::filesystem::exists(runtime / "brindle.socket"); });

    test::ProgramResult second = runBrindle({}, {}, 60);
    bool shown =
        eventually([&] { return readFile(home.logFile()).find("Brindle was started again") != std::string::npos; });
    ::kill(first, SIGTERM);
    int status = -1;
    ::waitpid(first, &status, 0);
    for (const char* name : {"XDG_RUNTIME_DIR", "QT_QPA_PLATFORM", "BRINDLE_URL", "LARDER_FOLDER"}) ::unsetenv(name);

    EXPECT_TRUE(listening);
    EXPECT_EQ(second.status, 0);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string log = readFile(home.logFile());
    size_t noTray = log.find("No system tray");
    EXPECT_NE(noTray, std::string::npos);
    EXPECT_EQ(log.find("No system tray", noTray + 1), std::string::npos);  // said once
}

}  // namespace
