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
using test::writeFile;

TEST(SplitEmailsTest, SplitsTrimsLowersAndDropsRepeats) {
    EXPECT_EQ(Brindle::splitEmails({"Ann@Example.COM, bob@x.org;ann@example.com", "\tcarl@y.org\n\nbob@x.org ;"}),
              (std::vector<std::string>{"ann@example.com", "bob@x.org", "carl@y.org"}));
    EXPECT_EQ(Brindle::splitEmails({"ÉLODIE@Example.fr"}), (std::vector<std::string>{"élodie@example.fr"}));
    EXPECT_TRUE(Brindle::splitEmails({" ,;\n\t ", ""}).empty());
}

class SharedFolderTest : public ::testing::Test {
protected:
    std::vector<std::string> place(const std::vector<fs::path>& files, Clock::time_point now = Clock::now()) {
        return SharedFolder::place(files, root_, [this](const std::string& line) { said_.push_back(line); }, now);
    }
    static Clock::time_point modified(const fs::path& path) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return Clock::time_point(std::chrono::seconds(info.st_mtim.tv_sec));
    }
    static void setModified(const fs::path& path, Clock::time_point when) {
        struct timespec times[2] = {{0, UTIME_OMIT}, {Clock::to_time_t(when), 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }

    test::TempDir home_;
    fs::path root_ = home_ / "Desktop/Larder";
    test::TempDir outside_;
    std::vector<std::string> said_;
};

TEST_F(SharedFolderTest, OutsideFilesAreCopiedUnderFreeNames) {
    writeFile(outside_ / "report.pdf", "v1");
    writeFile(outside_ / "notes", "plain");
    EXPECT_EQ(place({outside_ / "report.pdf"}), (std::vector<std::string>{"Shared/report.pdf"}));
    writeFile(outside_ / "report.pdf", "v2");
    EXPECT_EQ(place({outside_ / "report.pdf", outside_ / "notes", outside_ / "notes"}),
              (std::vector<std::string>{"Shared/report (2).pdf", "Shared/notes", "Shared/notes (2)"}));
    EXPECT_EQ(test::readFile(root_ / "Shared/report.pdf"), "v1");
    EXPECT_EQ(test::readFile(root_ / "Shared/report (2).pdf"), "v2");
    EXPECT_EQ(said_.front(), "Copied report.pdf into your Larder (Shared/).");
    EXPECT_EQ(said_.size(), 4u);
    // No temporary copies are left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "Shared"), fs::directory_iterator()), 4);
}

TEST_F(SharedFolderTest, FilesInsideTheFolderAreSharedWhereTheyAre) {
    writeFile(root_ / "Docs/plan.md", "plan");
    fs::create_directory_symlink(root_, home_ / "larder-link");
    EXPECT_EQ(place({home_ / "larder-link/Docs/plan.md", root_ / "Docs/../Docs/plan.md"}),
              (std::vector<std::string>{"Docs/plan.md", "Docs/plan.md"}));
    EXPECT_FALSE(fs::exists(root_ / "Shared"));
    EXPECT_TRUE(said_.empty());

    // A link inside the folder to a file outside it shares a copy of the file.
    writeFile(outside_ / "secret.txt", "x");
    fs::create_symlink(outside_ / "secret.txt", root_ / "link.txt");
    EXPECT_EQ(place({root_ / "link.txt"}), (std::vector<std::string>{"Shared/link.txt"}));
}

TEST_F(SharedFolderTest, AnythingButAFileStopsTheShareBeforeCopying) {
    writeFile(outside_ / "a.txt", "a");
    fs::create_directory(outside_ / "Photos");
    for (const fs::path& bad : {outside_ / "Photos", outside_ / "missing.txt"}) {
        try {
            place({outside_ / "a.txt", bad});
            ADD_FAILURE() << "shared " << bad;
        } catch (const Brindle::ShareFailure& failure) {
            EXPECT_EQ(failure.code(), "not_a_file");
            EXPECT_EQ(std::string(failure.what()),
                      bad.filename().string() + " is not a file. Folders can't be shared yet; share the files inside.");
        }
    }
    EXPECT_FALSE(fs::exists(root_ / "Shared"));
}

TEST_F(SharedFolderTest, CopiesAreNeverNewerThanAMinuteAgo) {
    const Clock::time_point now = Clock::now();
    writeFile(outside_ / "old.txt", "old");
    writeFile(outside_ / "new.txt", "new");
    setModified(outside_ / "old.txt", now - std::chrono::minutes(10));
    setModified(outside_ / "new.txt", now);
    place({outside_ / "old.txt", outside_ / "new.txt"}, now);
    auto seconds = [](Clock::time_point t) { return Clock::to_time_t(t); };
    EXPECT_EQ(seconds(modified(root_ / "Shared/old.txt")), seconds(now - std::chrono::minutes(10)));
    EXPECT_EQ(seconds(modified(root_ / "Shared/new.txt")), seconds(now - std::chrono::minutes(1)));
}

}  // namespace
}  // namespace brindle
