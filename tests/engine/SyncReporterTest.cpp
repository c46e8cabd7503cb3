#include "engine/SyncReporter.h"

#include <gtest/gtest.h>

#include <clocale>

namespace brindle {
namespace {

using nlohmann::json;

class SyncReporterTest : public ::testing::Test {
protected:
    SyncReporter reporter{5.0, [this] { return now; }};
    std::vector<std::pair<json, json>> sent;  // events, status
    double now = 100;

    void begin() {
        reporter.begin([this](const json& events, const json& status) { sent.emplace_back(events, status); });
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
        EXPECT_EQ(sent[i].first.size(), i < 2 ? 200u : 50u);
        EXPECT_EQ(sent[i].second, i < 2 ? json::array() : statuses);
    }
    EXPECT_EQ(sent[1].first[0]["path"], "file200");  // order kept across chunks
    EXPECT_EQ(sent[2].first[49],
              (json{{"store", "GitHub"}, {"kind", "uploaded"}, {"path", "file449"}, {"bytes", 449}}));
}

TEST_F(SyncReporterTest, OpeningListsRunsThenDrivesNotPluggedIn) {
    begin();
    reporter.opening({}, {});  // no runs and no drives: nothing at all
    reporter.opening({"GitHub", "Dropbox"}, {"Blue stick"});
    EXPECT_EQ(sent.at(0).second,
              json::parse(R"([{"store":"GitHub","state":"syncing"}, {"store":"Dropbox","state":"syncing"},
        {"store":"Blue stick","state":"waiting","detail":"not plugged in"}])"));
}

TEST_F(SyncReporterTest, ProgressIsRateLimitedCarriesDrainedEventsAndANewPassStartsAfresh) {
    begin();
    reporter.collect("GitHub", uploads(2));
    int drains = 0;
    auto drain = [&] { return ++drains, std::vector<SyncEvent>{{"downloaded", "new.txt", 7}}; };
    reporter.progress("Dropbox", 1234, drain);
    now += 1;
    reporter.progress("Dropbox", 1000, drain);  // a second later: skipped, nothing drained
    ASSERT_EQ(std::pair(sent.size(), drains), std::pair(size_t{1}, 1));
    EXPECT_EQ(sent[0].first.size(), 3u);
    EXPECT_EQ(sent[0].first[2]["store"], "Dropbox");
    EXPECT_EQ(sent[0].second, json::parse(R"([{"store":"Dropbox","state":"syncing","detail":"1,234 files to go"}])"));
    now += 5;
    reporter.progress("Dropbox", 0, drain);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].second[0]["detail"], "");
    reporter.collect("GitHub", uploads(5));
    begin();  // a new pass forgets the last one's events and sends its first progress at once
    EXPECT_EQ(reporter.unsentCount(), 0u);
    reporter.progress("GitHub", 1, {});
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].second[0]["detail"], "1 file to go");
}

TEST(SyncReporterStatusTest, ClosingStatusesCarryErrorsCutToTwoHundredFiftyCharactersAndTotals) {
    std::setlocale(LC_NUMERIC, "C");
    const std::string longError =
        std::string(240, 'x') + "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9";
    json statuses = SyncReporter::closingStatuses(
        {{"GitHub", longError, std::pair<int64_t, int64_t>{3, 120}}, {"Dropbox", std::nullopt, std::nullopt}},
        {"Stick"});
    EXPECT_EQ(statuses, (json{{{"store", "GitHub"},
                               {"state", "error"},
                               {"detail", longError.substr(0, 260)},
                               {"files", 3},
                               {"bytes", 120}},
                              {{"store", "Dropbox"}, {"state", "synced"}},
                              {{"store", "Stick"}, {"state", "waiting"}, {"detail", "not plugged in"}}}));
    EXPECT_EQ(filesToGo(2) + filesToGo(1234567) + filesToGo(0), "2 files to go1,234,567 files to go");
    EXPECT_NO_THROW(SyncReporter::body({{"GitHub", SyncEvent{"uploaded", "caf\xe9.txt", 1}}}).dump());
}

}  // namespace
}  // namespace brindle
