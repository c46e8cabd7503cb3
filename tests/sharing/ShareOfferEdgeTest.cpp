#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "sharing/ShareOffers.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;
using Keys = std::vector<std::string>;

constexpr time_t kWritten = 1773835200;

// Files in "Shared" written at kWritten plus a fraction of a second; the
// checker runs on a clock of the test's.
class ShareOfferEdgeTest : public ::testing::Test {
protected:
    void add(const std::string& name, long nanoseconds = 0) {
        fs::path path = shared_ / name;
        test::writeFile(path, "data");
        struct timespec times[2] = {{0, UTIME_OMIT}, {kWritten, nanoseconds}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    void setNow(std::chrono::milliseconds afterWriting) { now_ = Clock::from_time_t(kWritten) + afterWriting; }

    test::IsolatedHome home_;
    test::TempDir larder_;
    fs::path shared_ = larder_ / "Shared";
    fs::path state_ = larder_ / "state/shared-offered.json";
    Clock::time_point now_ = Clock::from_time_t(kWritten + 60);
    ShareOffers offers_{shared_, state_, [this] { return now_; }};
};

TEST_F(ShareOfferEdgeTest, SettleTimeCountsFractionsOfASecond) {
    offers_.check();
    add("late.txt", 900'000'000);  // written at .9 of its second
    setNow(std::chrono::milliseconds(3400));
    EXPECT_EQ(offers_.check(), Keys{}) << "only 2.5 seconds after it was written";
    setNow(std::chrono::milliseconds(3900));
    EXPECT_EQ(offers_.check(), Keys{"Shared/late.txt"});
}

TEST_F(ShareOfferEdgeTest, NameThatIsNotUTF8IsLeftOutAndOffersGoOn) {
    add("bad\xff.txt");
    add("good.txt");
    EXPECT_EQ(offers_.check(), Keys{});  // the baseline
    add("new.txt");
    ::testing::internal::CaptureStderr();  // where the log's lines also go
    EXPECT_EQ(offers_.check(), Keys{"Shared/new.txt"});
    std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(offers_.check(), Keys{});
    EXPECT_NE(logged.find("Share offers: left out bad\xEF\xBF\xBD.txt: its name is not valid UTF-8"), std::string::npos)
        << logged;
}

}  // namespace
}  // namespace brindle
