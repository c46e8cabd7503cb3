#include "common/ConflictName.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace brindle;

TEST(ConflictName, KeepsTheExtensionAndCountsUpWhenTaken) {
    test::TempDir folder;
    const std::string stamp = "2026-03-07 0915";
    EXPECT_EQ(ConflictName::make(folder.path(), "Plans/budget.xlsx", "Dropbox", stamp),
              "Plans/budget (conflict from Dropbox 2026-03-07 0915).xlsx");
    test::writeFile(folder / "Plans/budget (conflict from Dropbox 2026-03-07 0915).xlsx", "x");
    test::writeFile(folder / "Plans/budget (conflict from Dropbox 2026-03-07 0915 2).xlsx", "x");
    EXPECT_EQ(ConflictName::make(folder.path(), "Plans/budget.xlsx", "Dropbox", stamp),
              "Plans/budget (conflict from Dropbox 2026-03-07 0915 3).xlsx");
}

TEST(ConflictName, NamesWithoutExtensionsAndSlashesInTheDevice) {
    test::TempDir folder;
    EXPECT_EQ(ConflictName::make(folder.path(), "notes", "Backup/2024", "2026-03-07 0915"),
              "notes (conflict from Backup-2024 2026-03-07 0915)");
    EXPECT_EQ(ConflictName::make(folder.path(), "a.b/.bashrc", "Mac", "S"), "a.b/.bashrc (conflict from Mac S)");
    EXPECT_EQ(ConflictName::make(folder.path(), "x.tar.gz", "Mac", "S"), "x.tar (conflict from Mac S).gz");
}
