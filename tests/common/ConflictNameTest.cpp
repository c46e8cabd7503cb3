#include "common/ConflictName.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

using namespace brindle;

TEST(ConflictName, KeepsTheLastExtensionCountsUpWhenTakenAndCleansTheDevice) {
    test::TempDir folder;
    auto make = [&](const char* path, const char* device) {
        return ConflictName::make(folder.path(), path, device, "2026-03-07 0915");
    };
    EXPECT_EQ(make("Plans/budget.xlsx", "Dropbox"), "Plans/budget (conflict from Dropbox 2026-03-07 0915).xlsx");
    test::writeFile(folder / "Plans/budget (conflict from Dropbox 2026-03-07 0915).xlsx", "x");
    test::writeFile(folder / "Plans/budget (conflict from Dropbox 2026-03-07 0915 2).xlsx", "x");
    EXPECT_EQ(make("Plans/budget.xlsx", "Dropbox"), "Plans/budget (conflict from Dropbox 2026-03-07 0915 3).xlsx");
    EXPECT_EQ(make("notes", "Backup/2024"), "notes (conflict from Backup-2024 2026-03-07 0915)");
    EXPECT_EQ(make("a.b/.bashrc", "Mac"), "a.b/.bashrc (conflict from Mac 2026-03-07 0915)");
    EXPECT_EQ(make("x.tar.gz", "Mac"), "x.tar (conflict from Mac 2026-03-07 0915).gz");
}
