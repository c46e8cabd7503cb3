#include "app/StatusView.h"

namespace brindle {

namespace {

using Kind = EngineState::Kind;

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
    return out;
}

// The first count characters (not bytes) of UTF-8 text.
std::string firstCharacters(const std::string& text, size_t count) {
    size_t i = 0;
    for (size_t seen = 0; i < text.size() && seen < count; ++seen) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return text.substr(0, i);
}

void renderState(StatusView& view, const EngineState& state, const std::vector<std::string>& storeNames,
                 const std::string& host, const StatusView::TimeText& timeText) {
    switch (state.kind) {
        case Kind::synced: {
            std::string suffix = storeNames.size() < 2 ? "" : " on " + join(storeNames, " and ");
            view.statusTitle = "Up to date" + suffix + " \u2014 last synced " + timeText(state.date);
            view.icon = kIconSynced;
            break;
        }
        case Kind::error:
            view.statusTitle = "Error: " + firstCharacters(state.message, 80);
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
    view.drivesTitle = driveLines.empty() ? "USB drives: none added" : "USB drive " + join(driveLines, " \u00b7 ");
    view.skippedHidden = skipped.empty();
    if (skipped.size() == 1) view.skippedTitle = "Not synced (too big): " + skipped.front();
    if (skipped.size() > 1) view.skippedTitle = std::to_string(skipped.size()) + " files too big to sync";
    return view;
}

}  // namespace brindle
