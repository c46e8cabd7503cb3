#include "sharing/ShareOffers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;
using Keys = std::vector<std::string>;

// Files carry real modification times set with utimensat; the checker's clock
// is the test's, so "2 seconds ago" needs no waiting.
class ShareOffersTest : public ::testing::Test {
protected:
    void add(const std::string& relative, const std::string& content = "data", int secondsAgo = 60) {
        fs::path path = shared_ / relative;
        test::writeFile(path, content);
        struct timespec times[2] = {{0, UTIME_OMIT}, {Clock::to_time_t(now_) - secondsAgo, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    Keys check() { return offers_.check(); }
    nlohmann::json stateFile() { return nlohmann::json::parse(test::readFile(state_), nullptr, false); }

    test::TempDir larder_;
    fs::path shared_ = larder_ / "Shared";
    test::TempDir stateDir_;
    fs::path state_ = stateDir_ / "nested/shared-offered.json";
    Clock::time_point now_ = Clock::now();
    ShareOffers offers_{shared_, state_, [this] { return now_; }};
};

TEST_F(ShareOffersTest, FirstCheckRecordsABaselineAndOffersNothing) {
    add("a.pdf", "1234");
    add("b.txt");
    add("x/c.txt");
    EXPECT_TRUE(check().empty());
    nlohmann::json saved = stateFile();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved["Shared/a.pdf"], "4:" + std::to_string(Clock::to_time_t(now_) - 60));
    EXPECT_TRUE(check().empty());
}

TEST_F(ShareOffersTest, NewAndChangedFilesAreOfferedOnceEach) {
    add("old.txt");
    check();
    add("z.txt");
    add("b.txt");
    EXPECT_EQ(check(), (Keys{"Shared/b.txt", "Shared/z.txt"}));
    EXPECT_TRUE(check().empty());
    add("old.txt", "data", 30);  // touched
    EXPECT_EQ(check(), (Keys{"Shared/old.txt"}));
    // A removed file is never forgotten.
    fs::remove(shared_ / "old.txt");
    EXPECT_TRUE(check().empty());
    EXPECT_TRUE(stateFile().contains("Shared/old.txt"));
}

TEST_F(ShareOffersTest, FilesStillBeingWrittenWaitForTheNextCheck) {
    check();
    add("fresh.txt", "data", 2);
    EXPECT_TRUE(check().empty());
    now_ += std::chrono::seconds(1);
    EXPECT_EQ(check(), (Keys{"Shared/fresh.txt"}));
}

TEST_F(ShareOffersTest, HiddenPartialAndPlaceholderFilesAreNeverOffered) {
    check();
    for (const char* name : {".hidden", "movie.part", "doc.icloud", "page.crdownload", "x.tmp", "backup~", "Icon\r",
                             ".brindle-tmp-123456789012", ".git/config"})
        add(name);
    add("x/name.txt");
    EXPECT_EQ(check(), (Keys{"Shared/x/name.txt"}));
}

TEST_F(ShareOffersTest, LinkedSharedFolderGivesTheSameKeys) {
    add("a.txt");
    fs::create_directory_symlink(shared_, larder_ / "alias");
    ShareOffers linked(larder_ / "alias", state_, [this] { return now_; });
    EXPECT_EQ(linked.signatures().begin()->first, "Shared/a.txt");
}

TEST_F(ShareOffersTest, CorruptOrForeignStateIsRewrittenAndNothingOffered) {
    add("a.txt");
    for (const char* bad : {"{not json", "[\"Shared/a.txt\"]", "{\"Shared/a.txt\": 5}"}) {
        test::writeFile(state_, bad);
        EXPECT_TRUE(check().empty()) << bad;
        EXPECT_TRUE(stateFile().contains("Shared/a.txt")) << bad;
    }
}

TEST_F(ShareOffersTest, MissingFolderGivesNothing) {
    EXPECT_TRUE(offers_.signatures().empty());
    EXPECT_TRUE(check().empty());
    EXPECT_EQ(stateFile(), nlohmann::json::object());
}

}  // namespace
}  // namespace brindle
