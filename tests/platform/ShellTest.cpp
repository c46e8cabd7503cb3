#include "platform/Shell.h"

#include <gtest/gtest.h>

#include "support/ScopedEnv.h"

using namespace brindle;

TEST(ShellRun, StatusOutputAndErrorsOfEveryKindOfEnding) {
    struct Case {
        const char* program;
        std::vector<std::string> args;
        double timeout;
        std::optional<int> status;  // none: any failure
        std::string out, err;       // err: a part of standard error, "" for none at all
    };
    test::ScopedEnv keep("BRINDLE_SHELL_TEST_KEEP", "kept");
    const Case cases[] = {
        {"/bin/sh", {"-c", "exit 3"}, 10, 3, "", ""},
        {"/no/such/program", {}, 10, -1, "", "No such file"},
        {"/bin/sh", {"-c", "echo before; sleep 30"}, 0.3, std::nullopt, "before\n", ""},  // killed, output kept
        {"/usr/bin/printf", {"a\\377b"}, 10, 0, "a\uFFFDb", ""},
        {"/bin/sh", {"-c", "echo $BRINDLE_SHELL_TEST_KEEP:$PATH"}, 10, 0, "kept:/bin:/usr/bin\n", ""},
    };
    for (const Case& each : cases) {
        Shell::Result result = Shell::run(each.program, each.args, {{"PATH", "/bin:/usr/bin"}}, each.timeout);
        EXPECT_TRUE(each.status ? result.status == *each.status : result.status != 0) << each.program;
        EXPECT_EQ(result.out, each.out) << each.program;
        EXPECT_TRUE(each.err.empty() && each.status ? result.err.empty()
                                                    : result.err.find(each.err) != std::string::npos)
            << result.err;
    }
    // A child filling standard error far beyond a pipe's buffer before writing its output.
    Shell::Result both = Shell::run("/bin/sh", {"-c", "head -c 1000000 /dev/zero >&2; echo done"}, {}, 30);
    EXPECT_EQ(both.out, "done\n");
    EXPECT_EQ(both.err.size(), 1000000u);
}
