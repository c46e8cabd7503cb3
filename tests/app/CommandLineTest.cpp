#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace brindle;

// The number of operands decides before the first argument does.
TEST(CommandLineSelection, EachModeWithTheOperandsItTakes) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--sync-once"}, "--sync-once"},
        {{"--sync-once", "a", "b", "c", "d"}, "--sync-once"},
        {{"--sync-once", "a", "b", "c"}, "application"},
        {{"--share", "a@b.c"}, "application"},  // a share needs at least one file
        {{"--share", "a@b.c", "f1", "f2", "f3", "f4"}, "--share"},
        {{"--brindle-login"}, "application"},
        {{"--brindle-login", "My Mac"}, "--brindle-login"},
        {{}, "application"},
        {{"--plaud-once", "M", "3"}, "--plaud-once"},
        {{"--settings-snapshot", "p.png", "x"}, "--settings-snapshot"},
        {{"--drive-add", "/media/x", "Blue"}, "--drive-add"},
        {{"--drive-add", "/media/x"}, "application"},
        {{"--contacts-once", "C", "extra"}, "application"},
        {{"--SYNC-ONCE"}, "application"},
    };
    for (const auto& [operands, mode] : rows) {
        std::vector<std::string> argv{"brindle"};
        argv.insert(argv.end(), operands.begin(), operands.end());
        std::string name;
        CommandLine::select(argv, &name);
        EXPECT_EQ(name, mode) << ::testing::PrintToString(operands);
    }
}
