#include "app/StatusView.h"

#include "common/Text.h"

namespace brindle {

namespace {

using Kind = EngineState::Kind;

void renderState(StatusView& view, const EngineState& state, const std::vector<std::string>& storeNames,
                 const std::string& host, const StatusView::TimeText& timeText) {
    switch (state.kind) {
        case Kind::synced: {
            std::string suffix = storeNames.size() < 2 ? "" : " on " + Text::joined(storeNames, " and ");
            view.statusTitle = "Up to date" + suffix + " \u2014 last synced " + timeText(state.date);
            view.icon = kIconSynced;
            break;
        }
        case Kind::error:
            view.statusTitle = "Error: " + Text::firstCharacters(state.message, 80);
            view.icon = kIconProblem;
            break;
        case Kind::starting:
            view.statusTitle = "Starting\u2026";
            break;
        case Kind::syncing:
            view.statusTitle = "Syncing\u2026";
            view.icon = kIconSyncing;
            break;
        case Kind::needsSignIn:
            view.statusTitle = "Not signed in \u2014 choose Sign In to Brindle\u2026";
            view.icon = kIconProblem;
            break;
        case Kind::needsStore:
            view.statusTitle = "Connect GitHub or Dropbox on " + host + " to start syncing";
            view.icon = kIconProblem;
            break;
    }
}

}  // namespace

StatusView StatusView::render(const EngineState& state, const std::vector<std::string>& skipped,
                              const std::vector<std::string>& storeNames, const std::vector<std::string>& driveLines,
                              const std::string& host, const TimeText& timeText) {
    StatusView view;
    renderState(view, state, storeNames, host, timeText);
    view.drivesTitle =
        driveLines.empty() ? "USB drives: none added" : "USB drive " + Text::joined(driveLines, " \u00b7 ");
    view.skippedHidden = skipped.empty();
    if (skipped.size() == 1) view.skippedTitle = "Not synced (too big): " + skipped.front();
    if (skipped.size() > 1) view.skippedTitle = std::to_string(skipped.size()) + " files too big to sync";
    return view;
}

}  // namespace brindle
