#pragma once

#include <string>
#include <vector>

// The entry points of the window-system layer, installed into the command
// line at start.
namespace brindle::ui::TrayApplication {

// The tray application: one per user, syncing until quit (menu, SIGTERM,
// SIGINT, SIGHUP). Without a display it prints one error line and returns 1.
int run(const std::vector<std::string>& args);

// "--settings-snapshot PATH [x]": draws the settings window (signed in when
// a fourth argument is there) off screen into a PNG at PATH.
int settingsSnapshot(const std::vector<std::string>& args);

// Hands both to the command line.
void install();

// Why no display can be used, or "" when one can. Reads DISPLAY,
// WAYLAND_DISPLAY and QT_QPA_PLATFORM, and tries the X server.
std::string displayProblem();

}  // namespace brindle::ui::TrayApplication
