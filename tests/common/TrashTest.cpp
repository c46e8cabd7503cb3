#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>

#include "common/Trash.h"
#include "support/ScratchMount.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

// Reads "DeletionDate" of a .trashinfo as local time.
std::time_t deletionDate(const std::string& info) {
    size_t at = info.find("DeletionDate=");
    std::tm local{};
    local.tm_isdst = -1;
    if (at == std::string::npos || !::strptime(info.c_str() + at + 13, "%Y-%m-%dT%H:%M:%S", &local)) return 0;
    return std::mktime(&local);
}

class TrashTest : public ::testing::Test {
protected:
    test::IsolatedHome home;
    test::TempDir dir;
    fs::path trash = home.path() / ".local/share/Trash";
    test::ScratchMount volume{dir / "volume", 1 << 20};
};

TEST_F(TrashTest, HomeTrashKeepsTheFileWithWhereItCameFromAndWhen) {
    test::writeFile(dir / "Larder/My notes/a b.md", "first");
    test::writeFile(dir / "elsewhere/a b.md", "second");
    Trash::Outcome first = Trash::put(dir / "Larder/My notes/a b.md");
    Trash::Outcome second = Trash::put(dir / "elsewhere/a b.md");
    ASSERT_TRUE(first.trashed && second.trashed) << first.reason << second.reason;
    EXPECT_EQ(first.where, trash / "files/a b.md");
    EXPECT_EQ(second.where, trash / "files/a b.md.2");  // never over another
    EXPECT_EQ(test::readFile(trash / "files/a b.md"), "first");
    EXPECT_FALSE(fs::exists(dir / "Larder/My notes/a b.md"));

    std::string info = test::readFile(trash / "info/a b.md.trashinfo");
    std::string path = (dir / "Larder/My%20notes/a%20b.md").string();
    EXPECT_TRUE(info.starts_with("[Trash Info]\nPath=" + path + "\nDeletionDate=")) << info;
    EXPECT_LE(std::abs(std::difftime(deletionDate(info), std::time(nullptr))), 120);
}

TEST_F(TrashTest, OtherFileSystemUsesItsOwnTrashAtItsTop) {
    if (!volume.mounted()) GTEST_SKIP() << volume.why();
    test::writeFile(volume.path() / "Larder/x.md", "x");
    Trash::Outcome outcome = Trash::put(volume.path() / "Larder/x.md");
    ASSERT_TRUE(outcome.trashed) << outcome.reason;
    fs::path own = volume.path() / (".Trash-" + std::to_string(::getuid()));
    EXPECT_EQ(outcome.where, own / "files/x.md");
    EXPECT_TRUE(test::readFile(own / "info/x.md.trashinfo").starts_with("[Trash Info]\nPath=Larder/x.md\n"));
    EXPECT_EQ(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(TrashTest, NoUsableTrashLeavesTheFileInPlace) {
    if (!volume.mounted()) GTEST_SKIP() << volume.why();
    test::writeFile(volume.path() / "x.md", "x");
    // a trash folder that is a link could lead anywhere
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", volume.path() / (".Trash-" + std::to_string(::getuid())));
    Trash::Outcome outcome = Trash::put(volume.path() / "x.md");
    EXPECT_FALSE(outcome.trashed);
    EXPECT_FALSE(outcome.reason.empty());
    EXPECT_EQ(test::readFile(volume.path() / "x.md"), "x");
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

}  // namespace
}  // namespace brindle
