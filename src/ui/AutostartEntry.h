#pragma once

#include <filesystem>
#include <string>

namespace brindle::ui {

// Open at login as an XDG autostart entry:
// $XDG_CONFIG_HOME/autostart/brindle.desktop (default ~/.config/autostart).
namespace AutostartEntry {

std::filesystem::path file();
// true when the entry exists and is not switched off (Hidden=true).
bool enabled();
// Writes (atomically) or removes the entry that starts program. Throws
// brindle::Error naming the file on failure.
void setEnabled(bool on, const std::string& program);

}  // namespace AutostartEntry

}  // namespace brindle::ui
