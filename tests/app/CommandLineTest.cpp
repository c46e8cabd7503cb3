#include "app/CommandLine.h"

#include "support/RunProgram.h"

#include <gtest/gtest.h>

using namespace brindle;

namespace {

std::string chosen(std::vector<std::string> operands) {
    operands.insert(operands.begin(), "brindle");
    std::string name;
    CommandLine::select(operands, &name);
    return name;
}

}  // namespace

TEST(CommandLineSelection, CountDecidesBeforeTheFirstArgument) {
    EXPECT_EQ(chosen({"--sync-once"}), "--sync-once");
    EXPECT_EQ(chosen({"--sync-once", "a", "b", "c", "d"}), "--sync-once");
    // two or three operands is not a sync
    EXPECT_EQ(chosen({"--sync-once", "a", "b"}), "application");
    EXPECT_EQ(chosen({"--sync-once", "a", "b", "c"}), "application");
    // a share needs at least one file
    EXPECT_EQ(chosen({"--share", "a@b.c"}), "application");
    EXPECT_EQ(chosen({"--share", "a@b.c", "f1"}), "--share");
    EXPECT_EQ(chosen({"--share", "a@b.c", "f1", "f2", "f3", "f4"}), "--share");
    EXPECT_EQ(chosen({"--brindle-login"}), "application");
    EXPECT_EQ(chosen({"--brindle-login", "My Mac"}), "--brindle-login");
    EXPECT_EQ(chosen({}), "application");
}

TEST(CommandLineSelection, ModesWithOptionalOperandsAcceptMore) {
    EXPECT_EQ(chosen({"--plaud-once", "M"}), "--plaud-once");
    EXPECT_EQ(chosen({"--plaud-once", "M", "3"}), "--plaud-once");
    EXPECT_EQ(chosen({"--settings-snapshot", "p.png", "x"}), "--settings-snapshot");
    EXPECT_EQ(chosen({"--drive-add", "/media/x", "Blue"}), "--drive-add");
    EXPECT_EQ(chosen({"--drive-add", "/media/x"}), "application");
    EXPECT_EQ(chosen({"--contacts-once", "C", "extra"}), "application");
    EXPECT_EQ(chosen({"--SYNC-ONCE"}), "application");
}
