#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "devserver/DevServer.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

using namespace brindle;
using test::readFile;
using test::runBrindle;

namespace {

const std::map<std::string, std::string> kNoDisplay{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};

TEST(TrayProgramTest, WithoutADisplayTheSnapshotDrawsBothAccountStatesAndTheTrayGivesOneErrorLine) {
    test::IsolatedHome home;
    std::filesystem::path out = home.path() / "out.png", in = home.path() / "in.png";
    runBrindle({"--settings-snapshot", out.string()}, kNoDisplay);
    runBrindle({"--settings-snapshot", in.string(), "x"}, kNoDisplay);
    EXPECT_TRUE(readFile(out).starts_with("\x89PNG\r\n") && readFile(out) != readFile(in));  // token controls differ

    test::ProgramResult tray = runBrindle({}, kNoDisplay, 60);
    EXPECT_EQ(std::to_string(tray.status) + tray.out + tray.err,
              "1error: no display to show the tray icon on (DISPLAY is not set); the command-line modes still work.\n");
}

// A second start asks the running tray (offscreen: no tray host) for its settings window and leaves.
TEST(TrayProgramTest, ASecondStartShowsTheFirstOnesSettingsInsteadOfStartingAgain) {
    test::IsolatedHome home;
    devserver::DevServer server;
    server.start();
    std::filesystem::path runtime = home.path() / "run";
    std::filesystem::create_directories(runtime);
    const std::map<std::string, std::string> env{{"XDG_RUNTIME_DIR", runtime.string()},
                                                 {"QT_QPA_PLATFORM", "offscreen"},
                                                 {"BRINDLE_URL", server.url()},
                                                 {"LARDER_FOLDER", (home.path() / "Larder").string()}};
    test::ChildProcess first(test::brindleCommand({}), env);
    auto logged = [&](const char* line) {  // in short real steps, up to about 30 seconds
        for (int i = 0; i < 600 && readFile(home.logFile()).find(line) == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return readFile(home.logFile()).find(line) != std::string::npos;
    };
    EXPECT_TRUE(logged("No system tray"));
    EXPECT_EQ(runBrindle({}, env, 60).status, 0);
    EXPECT_TRUE(logged("Brindle was started again"));
    ::kill(first.pid(), SIGTERM);
    EXPECT_EQ(first.wait(), 0);
    std::string log = readFile(home.logFile());
    EXPECT_EQ(log.find("No system tray"), log.rfind("No system tray"));  // said once
}

}  // namespace
