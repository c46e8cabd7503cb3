#include "app/StatusView.h"

#include <gtest/gtest.h>

using namespace brindle;

namespace {

using State = EngineState;
using Strings = std::vector<std::string>;

// "status | icon | skipped line (or hidden) | drives line"
std::string rendered(const State& state, const Strings& skipped, const Strings& stores, const Strings& drives) {
    StatusView view = StatusView::render(state, skipped, stores, drives, "brindle.app",
                                         [](State::Clock::time_point) { return std::string("9:41 AM"); });
    return view.statusTitle + " | " + view.icon.value_or("none") + " | " +
           (view.skippedHidden ? "hidden" : view.skippedTitle) + " | " + view.drivesTitle;
}

TEST(StatusViewTest, RendersEveryStateRowByRow) {
    const std::string none = " | hidden | USB drives: none added", ok = kIconSynced, problem = kIconProblem;
    struct Row {
        State state;
        Strings skipped, stores, drives;
        std::string expected;
    };
    // clang-format off
    const Row rows[] = {
        {State::synced({}), {}, {"GitHub"}, {}, "Up to date \u2014 last synced 9:41 AM | " + ok + none},
        {State::synced({}), {"big.mov"}, {"GitHub", "Dropbox", "Travel"}, {"Travel: synced", "Spare: not plugged in"},
         "Up to date on GitHub and Dropbox and Travel \u2014 last synced 9:41 AM | " + ok +
             " | Not synced (too big): big.mov | USB drive Travel: synced \u00b7 Spare: not plugged in"},
        {State::error(std::string(200, 'e')), {"a", "b", "c"}, {}, {},
         "Error: " + std::string(80, 'e') + " | " + problem + " | 3 files too big to sync | USB drives: none added"},
        {State::error("\u00e9t\u00e9 " + std::string(100, 'x')), {}, {}, {},  // cut at whole characters
         "Error: \u00e9t\u00e9 " + std::string(76, 'x') + " | " + problem + none},
        {State::syncing(), {}, {}, {}, "Syncing\u2026 | " + std::string(kIconSyncing) + none},
        {State::needsSignIn(), {}, {}, {}, "Not signed in \u2014 choose Sign In to Brindle\u2026 | " + problem + none},
        {State::needsStore(), {}, {}, {}, "Connect GitHub or Dropbox on brindle.app to start syncing | " + problem + none},
    };
    // clang-format on
    for (const Row& row : rows) EXPECT_EQ(rendered(row.state, row.skipped, row.stores, row.drives), row.expected);
}

}  // namespace
