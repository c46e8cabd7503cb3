#include <gtest/gtest.h>

#include "app/MenuModel.h"
#include "app/SettingsView.h"
#include "app/StatusView.h"

using namespace brindle;

namespace {

using State = EngineState;

std::string fixedTime(State::Clock::time_point) {
    return "9:41 AM";
}

TEST(StatusViewTest, RendersEveryStateRowByRow) {
    const std::string longError(200, 'e');
    struct Row {
        State state;
        std::vector<std::string> skipped, stores, drives;
        std::string status;
        std::optional<std::string> icon;
        std::string skippedTitle;
        bool skippedHidden;
        std::string drivesTitle;
    };
    const std::vector<Row> rows{
        {State::synced({}),
         {},
         {"GitHub"},
         {},
         "Up to date \u2014 last synced 9:41 AM",
         kIconSynced,
         "",
         true,
         "USB drives: none added"},
        {State::synced({}),
         {"big.mov"},
         {"GitHub", "Dropbox", "Travel"},
         {"Travel: synced", "Spare: not plugged in"},
         "Up to date on GitHub and Dropbox and Travel \u2014 last synced 9:41 AM",
         kIconSynced,
         "Not synced (too big): big.mov",
         false,
         "USB drive Travel: synced \u00b7 Spare: not plugged in"},
        {State::error(longError),
         {"a", "b", "c"},
         {},
         {},
         "Error: " + std::string(80, 'e'),
         kIconProblem,
         "3 files too big to sync",
         false,
         "USB drives: none added"},
        {State::error("\u00e9t\u00e9 " + std::string(100, 'x')),
         {},
         {},
         {},
         "Error: \u00e9t\u00e9 " + std::string(76, 'x'),
         kIconProblem,
         "",
         true,
         "USB drives: none added"},
        {State::starting(), {}, {}, {}, "Starting\u2026", std::nullopt, "", true, "USB drives: none added"},
        {State::syncing(), {}, {}, {}, "Syncing\u2026", kIconSyncing, "", true, "USB drives: none added"},
        {State::needsSignIn(),
         {},
         {},
         {},
         "Not signed in \u2014 choose Sign In to Brindle\u2026",
         kIconProblem,
         "",
         true,
         "USB drives: none added"},
        {State::needsStore(),
         {},
         {},
         {},
         "Connect GitHub or Dropbox on brindle.app to start syncing",
         kIconProblem,
         "",
         true,
         "USB drives: none added"},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        StatusView view = StatusView::render(row.state, row.skipped, row.stores, row.drives, "brindle.app", fixedTime);
        EXPECT_EQ(view.statusTitle, row.status) << "row " << i;
        EXPECT_EQ(view.icon, row.icon) << "row " << i;
        EXPECT_EQ(view.skippedTitle, row.skippedTitle) << "row " << i;
        EXPECT_EQ(view.skippedHidden, row.skippedHidden) << "row " << i;
        EXPECT_EQ(view.drivesTitle, row.drivesTitle) << "row " << i;
    }
}

}  // namespace
