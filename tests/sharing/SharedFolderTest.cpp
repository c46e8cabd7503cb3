#include "sharing/BrindleShares.h"
#include "sharing/SharedFolder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

TEST(SplitEmailsTest, SplitsTrimsLowersAndDropsRepeats) {
    EXPECT_EQ(Brindle::splitEmails({"Ann@Example.COM, bob@x.org;ann@example.com", "\tÉLODIE@x.fr\n\nbob@x.org ;"}),
              (std::vector<std::string>{"ann@example.com", "bob@x.org", "élodie@x.fr"}));
    // no-break spaces around an address, as pasted from a web page or a mail client
    EXPECT_EQ(Brindle::splitEmails({"\u00A0Ann@example.com\u00A0", "ann@example.com\u202F"}),
              std::vector<std::string>{"ann@example.com"});
}

time_t modified(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mtim.tv_sec;
}

void setModified(const fs::path& path, time_t when) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Copying into "Shared" (the end-to-end runs of "--share" cover names,
// links into the folder and refusals).
TEST(SharedFolderTest, CopiesKeepOldDatesButAreNeverNewerThanAMinuteAgo) {
    test::TempDir root, outside;
    const Clock::time_point now = Clock::now();
    const time_t seconds = Clock::to_time_t(now);
    test::writeFile(outside / "old.txt", "old");
    test::writeFile(outside / "new.txt", "new");
    setModified(outside / "old.txt", seconds - 600);
    setModified(outside / "new.txt", seconds);
    SharedFolder::place({outside / "old.txt", outside / "new.txt"}, root.path(), {}, now);
    EXPECT_EQ(modified(root / "Shared/old.txt"), seconds - 600);
    EXPECT_EQ(modified(root / "Shared/new.txt"), seconds - 60);
    // Only the two copies: no temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "Shared"), fs::directory_iterator()), 2);
}

TEST(SharedFolderTest, LinkInsideTheFolderToAnOutsideFileSharesACopy) {
    test::TempDir root, outside;
    test::writeFile(outside / "secret.txt", "x");
    fs::create_symlink(outside / "secret.txt", root / "link.txt");
    EXPECT_EQ(SharedFolder::place({root / "link.txt"}, root.path(), {}), (std::vector<std::string>{"Shared/link.txt"}));
    EXPECT_FALSE(fs::is_symlink(root / "Shared/link.txt"));
}

}  // namespace
}  // namespace brindle
