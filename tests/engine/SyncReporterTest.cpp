#include "engine/SyncReporter.h"

#include <gtest/gtest.h>

#include <clocale>

namespace brindle {
namespace {

using nlohmann::json;

struct Sent {
    json events;
    json status;
};

class SyncReporterTest : public ::testing::Test {
protected:
    SyncReporter reporter{5.0, [this] { return now; }};
    std::vector<Sent> sent;
    double now = 100;

    void begin() {
        reporter.begin([this](const json& events, const json& status) { sent.push_back({events, status}); });
    }
    static std::vector<SyncEvent> uploads(int count) {
        std::vector<SyncEvent> events;
        for (int i = 0; i < count; ++i) events.push_back({"uploaded", "file" + std::to_string(i), i});
        return events;
    }
};

TEST_F(SyncReporterTest, FlushSendsChunksOfTwoHundredWithStatusesOnTheLast) {
    begin();
    reporter.collect("GitHub", uploads(450));
    json statuses = json::array({{{"store", "GitHub"}, {"state", "synced"}}});
    reporter.flush(statuses);
    ASSERT_EQ(sent.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].events.size(), i < 2 ? 200u : 50u);
        EXPECT_EQ(sent[i].status, i < 2 ? json::array() : statuses);
    }
    EXPECT_EQ(sent[1].events[0]["path"], "file200");  // order kept across chunks
    EXPECT_EQ(sent[2].events[49],
              (json{{"store", "GitHub"}, {"kind", "uploaded"}, {"path", "file449"}, {"bytes", 449}}));
    EXPECT_EQ(reporter.unsentCount(), 0u);
}

TEST_F(SyncReporterTest, SendsNothingWithoutAnAccount) {
    reporter.begin({});
    reporter.opening({"GitHub"}, {"Stick"});
    reporter.collect("GitHub", uploads(3));
    reporter.progress("GitHub", 10, {});
    reporter.flush(json::array({{{"store", "GitHub"}, {"state", "synced"}}}));
    EXPECT_TRUE(sent.empty());
}

TEST_F(SyncReporterTest, OpeningListsRunsThenDrivesNotPluggedIn) {
    begin();
    reporter.opening({"GitHub", "Dropbox"}, {"Blue stick"});
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].status, json::parse(R"([{"store":"GitHub","state":"syncing"},
        {"store":"Dropbox","state":"syncing"},
        {"store":"Blue stick","state":"waiting","detail":"not plugged in"}])"));
    sent.clear();
    reporter.opening({}, {});  // no runs and no drives: nothing at all
    EXPECT_TRUE(sent.empty());
}

TEST_F(SyncReporterTest, ProgressIsRateLimitedCarriesDrainedEventsAndANewPassStartsAfresh) {
    begin();
    reporter.collect("GitHub", uploads(2));
    int drains = 0;
    auto drain = [&] {
        ++drains;
        return std::vector<SyncEvent>{{"downloaded", "new.txt", 7}};
    };
    reporter.progress("Dropbox", 1234, drain);
    now += 1;
    reporter.progress("Dropbox", 1000, drain);  // a second later: skipped, nothing drained
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(drains, 1);
    EXPECT_EQ(sent[0].events.size(), 3u);
    EXPECT_EQ(sent[0].events[2]["store"], "Dropbox");
    EXPECT_EQ(sent[0].status, json::parse(R"([{"store":"Dropbox","state":"syncing","detail":"1,234 files to go"}])"));
    now += 5;
    reporter.progress("Dropbox", 0, drain);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].status[0]["detail"], "");

    reporter.collect("GitHub", uploads(5));
    begin();  // a new pass forgets the last one's events and sends its first progress at once
    EXPECT_EQ(reporter.unsentCount(), 0u);
    reporter.progress("GitHub", 1, {});
    EXPECT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].status[0]["detail"], "1 file to go");
}

TEST(SyncReporterStatusTest, ClosingStatusesCarryErrorsCutToTwoHundredFiftyCharactersAndTotals) {
    std::string longError(240, 'x');
    longError += "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9";  // 252 characters in all
    json statuses = SyncReporter::closingStatuses(
        {{"GitHub", longError, std::pair<int64_t, int64_t>{3, 120}}, {"Dropbox", std::nullopt, std::nullopt}},
        {"Stick"});
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_EQ(statuses[0]["state"], "error");
    std::string detail = statuses[0]["detail"];
    EXPECT_EQ(detail, longError.substr(0, 240 + 2 * 10));  // whole characters, never half of one
    EXPECT_EQ(statuses[0]["files"], 3);
    EXPECT_EQ(statuses[0]["bytes"], 120);
    EXPECT_EQ(statuses[1], (json{{"store", "Dropbox"}, {"state", "synced"}}));
    EXPECT_EQ(statuses[2], (json{{"store", "Stick"}, {"state", "waiting"}, {"detail", "not plugged in"}}));
}

TEST(SyncReporterStatusTest, FilesToGoReadsNaturallyAndPathsThatAreNotUTF8StillEncode) {
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(filesToGo(2) + filesToGo(1234567) + filesToGo(0), "2 files to go1,234,567 files to go");
    EXPECT_NO_THROW(SyncReporter::body({{"GitHub", SyncEvent{"uploaded", "caf\xe9.txt", 1}}}).dump());
}

}  // namespace
}  // namespace brindle
