#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/TempDir.h"
#include "threeway/PathCase.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

TEST(PathCaseTest, ARememberedFolderIsReadAgainOnceItsNamesChangeOrItIsReplaced) {
    test::TempDir dir;
    test::writeFile(dir / "notes/a.txt", "a");
    auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(60)); };
    settle();
    PathCase::Folders folders(std::chrono::nanoseconds(std::chrono::milliseconds(30)).count());
    EXPECT_EQ(folders.resolve(dir.path(), "Notes/B.txt"), "notes/B.txt");
    EXPECT_EQ(folders.resolve(dir.path(), "NOTES/A.TXT"), "notes/a.txt");  // from what was read
    test::writeFile(dir / "notes/b.TXT", "b");
    EXPECT_EQ(folders.resolve(dir.path(), "Notes/B.txt"), "notes/b.TXT");
    // The same name, another folder: moved over the one that was read.
    test::writeFile(dir / "other/c.md", "c");
    settle();
    EXPECT_EQ(folders.resolve(dir.path(), "notes/C.md"), "notes/C.md");
    fs::remove_all(dir / "notes");
    fs::rename(dir / "other", dir / "notes");
    EXPECT_EQ(folders.resolve(dir.path(), "notes/C.md"), "notes/c.md");
}

TEST(PathCaseTest, ANewFilesNameIsKeptAsGivenInsideFoldersMatchedByCase) {
    test::TempDir dir;
    test::writeFile(dir / "Photos/2024/img.JPG", "x");
    EXPECT_EQ(PathCase::resolveFolders(dir.path(), "photos/2024/IMG.jpg"), "Photos/2024/IMG.jpg");
    EXPECT_EQ(PathCase::resolve(dir.path(), "photos/2024/IMG.jpg"), "Photos/2024/img.JPG");
}

}  // namespace
}  // namespace brindle
