#include "common/Trash.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/ScratchMount.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

class TrashTest : public ::testing::Test {
protected:
    test::IsolatedHome home;
    test::TempDir dir;
    test::ScratchMount volume{dir / "volume", 1 << 20};
    fs::path own = volume.path() / (".Trash-" + std::to_string(::getuid()));
};

// Another file system uses its own trash at its top, and a trash folder that
// is a link (it could lead anywhere) leaves the file in place.
TEST_F(TrashTest, OtherFileSystemUsesItsOwnTrashButNeverALinkedOne) {
    if (!volume.mounted()) GTEST_SKIP() << volume.why();
    test::writeFile(volume.path() / "Larder/x.md", "x");
    Trash::Outcome outcome = Trash::put(volume.path() / "Larder/x.md");
    ASSERT_TRUE(outcome.trashed) << outcome.reason;
    EXPECT_EQ(outcome.where, own / "files/x.md");
    EXPECT_TRUE(test::readFile(own / "info/x.md.trashinfo").starts_with("[Trash Info]\nPath=Larder/x.md\n"));
    EXPECT_EQ(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_all);
    fs::remove_all(own);
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", own);
    test::writeFile(volume.path() / "y.md", "y");
    outcome = Trash::put(volume.path() / "y.md");
    EXPECT_FALSE(outcome.trashed || outcome.reason.empty());
    EXPECT_EQ(test::readFile(volume.path() / "y.md"), "y");
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

}  // namespace
}  // namespace brindle
