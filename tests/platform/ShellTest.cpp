#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "platform/Shell.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

using namespace brindle;

TEST(ShellRun, SilentCommandGivesEmptyOutputAndItsStatus) {
    Shell::Result result = Shell::run("/bin/sh", {"-c", "exit 3"}, {}, 10);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
}

TEST(ShellRun, MissingProgramGivesMinusOneAndTheLaunchError) {
    Shell::Result result = Shell::run("/no/such/program", {}, {}, 10);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("No such file"), std::string::npos) << result.err;
}

TEST(ShellRun, TimeOutTerminatesAndKeepsEarlierOutput) {
    auto started = std::chrono::steady_clock::now();
    Shell::Result result = Shell::run("/bin/sh", {"-c", "echo before; sleep 30"}, {}, 0.3);
    EXPECT_NE(result.status, 0);
    EXPECT_EQ(result.out, "before\n");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST(ShellRun, InvalidUTF8IsReplacedNotDropped) {
    Shell::Result result = Shell::run("/usr/bin/printf", {"a\\377b"}, {}, 10);
    EXPECT_EQ(result.out,
              "a\xEF\xBF\xBD"
              "b");
}

TEST(ShellRun, BothPipesDrainWhileTheChildWrites) {
    // given a child that fills stderr far beyond a pipe buffer before writing stdout
    Shell::Result result = Shell::run("/bin/sh", {"-c", "head -c 1000000 /dev/zero >&2; echo done"}, {}, 30);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "done\n");
    EXPECT_EQ(result.err.size(), 1000000u);
}

TEST(ShellRun, EnvironmentIsLaidOverTheInheritedOne) {
    test::ScopedEnv keep("BRINDLE_SHELL_TEST_KEEP", "kept");
    Shell::Result result =
        Shell::run("/bin/sh", {"-c", "echo $BRINDLE_SHELL_TEST_KEEP:$PATH"}, {{"PATH", "/bin:/usr/bin"}}, 10);
    EXPECT_EQ(result.out, "kept:/bin:/usr/bin\n");
}

TEST(ShellPath, ToolFoldersFixedFoldersThenInheritedPathWhole) {
    test::ScopedEnv path("PATH", "/usr/bin:/bin");
    EXPECT_EQ(Shell::path({std::string("/opt/homebrew/bin/plaud"), std::nullopt}),
              "/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/bin:/bin");
}

TEST(ShellFind, PrefersNpmGlobalAndFallsBackToTheLoginShell) {
    test::IsolatedHome home;
    auto makeTool = [](const std::filesystem::path& path) {
        test::writeFile(path, "#!/bin/sh\n");
        ::chmod(path.c_str(), 0755);
    };
    makeTool(home.path() / ".npm-global/bin/brindle-tool-x");
    makeTool(home.path() / ".local/bin/brindle-tool-x");
    EXPECT_EQ(Shell::find("brindle-tool-x"), (home.path() / ".npm-global/bin/brindle-tool-x").string());
    EXPECT_EQ(Shell::find("sh").value_or("").front(), '/');
    EXPECT_EQ(Shell::find("brindle-no-such-tool-anywhere"), std::nullopt);
}
