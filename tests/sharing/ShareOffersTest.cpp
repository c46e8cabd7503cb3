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
// is the test's, so "2 seconds ago" needs no waiting. The end-to-end runs of
// "--shared-folder-check" cover the baseline, left-out names and bad state.
class ShareOffersTest : public ::testing::Test {
protected:
    void add(const std::string& relative, int secondsAgo = 60) {
        fs::path path = larder_ / "Shared" / relative;
        test::writeFile(path, "data");
        struct timespec times[2] = {{0, UTIME_OMIT}, {Clock::to_time_t(now_) - secondsAgo, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }

    test::TempDir larder_;
    test::TempDir stateDir_;
    fs::path state_ = stateDir_ / "nested/shared-offered.json";
    Clock::time_point now_ = Clock::now();
    ShareOffers offers_{larder_ / "Shared", state_, [this] { return now_; }};
};

TEST_F(ShareOffersTest, FilesStillBeingWrittenWaitForTheNextCheck) {
    offers_.check();
    add("fresh.txt", 2);
    EXPECT_TRUE(offers_.check().empty());
    now_ += std::chrono::seconds(1);
    EXPECT_EQ(offers_.check(), (Keys{"Shared/fresh.txt"}));
}

TEST_F(ShareOffersTest, ChangedFilesComeBackAndRemovedOnesAreRemembered) {
    add("a.txt");
    offers_.check();
    add("a.txt", 30);  // touched
    add("b.txt");
    EXPECT_EQ(offers_.check(), (Keys{"Shared/a.txt", "Shared/b.txt"}));
    fs::remove(larder_ / "Shared/a.txt");
    EXPECT_TRUE(offers_.check().empty());
    EXPECT_TRUE(nlohmann::json::parse(test::readFile(state_)).contains("Shared/a.txt"));
}

TEST_F(ShareOffersTest, StateOfTheWrongShapeIsABaseline) {
    add("a.txt");
    test::writeFile(state_, R"({"Shared/a.txt": 5})");
    EXPECT_TRUE(offers_.check().empty());
    EXPECT_EQ(nlohmann::json::parse(test::readFile(state_))["Shared/a.txt"],
              "4:" + std::to_string(Clock::to_time_t(now_) - 60));
}

TEST_F(ShareOffersTest, LinkedSharedFolderGivesTheSameKeys) {
    add("x/a.txt");
    fs::create_directory_symlink(larder_ / "Shared", larder_ / "alias");
    ShareOffers linked(larder_ / "alias", state_, [this] { return now_; });
    EXPECT_EQ(linked.signatures().begin()->first, "Shared/x/a.txt");
}

}  // namespace
}  // namespace brindle
