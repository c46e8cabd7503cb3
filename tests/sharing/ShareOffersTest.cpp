#include "sharing/ShareOffers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;
using Keys = std::vector<std::string>;
using std::chrono::milliseconds;

constexpr time_t kBase = 1773835200;

// Files in "Shared" with set modification times; the checker runs on the test's clock.
class ShareOffersTest : public ::testing::Test {
protected:
    void add(const std::string& relative, time_t written = kBase - 60, long nanoseconds = 0) {
        fs::path path = larder_ / "Shared" / relative;
        test::writeFile(path, "data");
        struct timespec times[2] = {{0, UTIME_OMIT}, {written, nanoseconds}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    nlohmann::json state() const { return nlohmann::json::parse(test::readFile(state_)); }

    test::IsolatedHome home_;
    test::TempDir larder_;
    fs::path state_ = larder_ / "state/nested/shared-offered.json";
    Clock::time_point now_ = Clock::from_time_t(kBase);
    ShareOffers offers_{larder_ / "Shared", state_, [this] { return now_; }};
};

TEST_F(ShareOffersTest, FilesSettleThreeSecondsChangedOnesComeBackAndRemovedOnesAreRemembered) {
    add("a.txt");
    offers_.check();
    add("late.txt", kBase, 900'000'000);
    add("a.txt", kBase - 30);  // touched
    now_ = Clock::from_time_t(kBase) + milliseconds(3400);
    EXPECT_EQ(offers_.check(), Keys{"Shared/a.txt"});  // late.txt: only 2.5 seconds after it was written
    now_ = Clock::from_time_t(kBase) + milliseconds(3900);
    EXPECT_EQ(offers_.check(), Keys{"Shared/late.txt"});
    fs::remove(larder_ / "Shared/a.txt");
    EXPECT_TRUE(offers_.check().empty());
    EXPECT_TRUE(state().contains("Shared/a.txt"));
}

TEST_F(ShareOffersTest, StateOfTheWrongShapeIsABaselineAndALinkedFolderGivesTheSameKeys) {
    add("x/a.txt");
    test::writeFile(state_, R"({"Shared/x/a.txt": 5})");
    EXPECT_TRUE(offers_.check().empty());
    EXPECT_EQ(state()["Shared/x/a.txt"], "4:" + std::to_string(kBase - 60));
    fs::create_directory_symlink(larder_ / "Shared", larder_ / "alias");
    ShareOffers linked(larder_ / "alias", state_, [this] { return now_; });
    EXPECT_EQ(linked.signatures().begin()->first, "Shared/x/a.txt");
}

TEST_F(ShareOffersTest, NameThatIsNotUTF8IsLeftOutAndOffersGoOn) {
    add("bad\xff.txt");
    EXPECT_EQ(offers_.check(), Keys{});  // the baseline
    add("new.txt");
    ::testing::internal::CaptureStderr();  // where the log's lines also go
    EXPECT_EQ(offers_.check(), Keys{"Shared/new.txt"});
    std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(logged.find("Share offers: left out bad\xEF\xBF\xBD.txt: its name is not valid UTF-8"), std::string::npos)
        << logged;
}

}  // namespace
}  // namespace brindle
