#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/EngineState.h"

namespace brindle {

// What the menu shows for one published engine state: the status line, the
// icon (nothing keeps the icon set last), the skipped-files line and the
// drives line. A pure function of its inputs.
struct StatusView {
    std::string statusTitle;
    std::optional<std::string> icon;
    std::string skippedTitle;
    bool skippedHidden = true;
    std::string drivesTitle;

    using TimeText = std::function<std::string(EngineState::Clock::time_point)>;

    // host: the service's host name; timeText formats the time of a sync.
    static StatusView render(const EngineState& state, const std::vector<std::string>& skipped,
                             const std::vector<std::string>& storeNames, const std::vector<std::string>& driveLines,
                             const std::string& host, const TimeText& timeText);
};

// Status icon symbols.
inline constexpr const char* kIconLaunch = "externaldrive.badge.icloud";
inline constexpr const char* kIconSynced = "externaldrive.badge.checkmark";
inline constexpr const char* kIconProblem = "externaldrive.badge.exclamationmark";
inline constexpr const char* kIconSyncing = "arrow.triangle.2.circlepath";
inline constexpr const char* kIconFallback = "externaldrive";

}  // namespace brindle
