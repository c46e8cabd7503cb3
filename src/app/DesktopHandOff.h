#pragma once

#include <string>
#include <vector>

// The program `brindle` stays free of the window system, so its headless
// modes start quickly and small; what needs the desktop (the tray
// application, the settings snapshot, the system clipboard) runs in the
// desktop program installed beside it, which takes over the process.
namespace brindle::DesktopHandOff {

// Whether args (program name first) choose something only the desktop
// program can do.
bool needed(const std::vector<std::string>& args);

// Replaces this process by the desktop program with the same arguments,
// telling it this program's path in BRINDLE_LAUNCHER (what the login item
// starts). Returns only when there is no desktop program: false then, and
// the caller runs the mode itself (which says this build has no windows).
// A desktop program that is there but cannot be started exits with 1 and an
// error line.
bool run(char** argv);

}  // namespace brindle::DesktopHandOff
