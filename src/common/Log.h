#pragma once

#include <filesystem>
#include <string>

namespace brindle::Log {

// The log file: $LARDER_LOG when set, else
// $XDG_STATE_HOME/brindle/Brindle.log (default ~/.local/state/brindle).
// Resolved once per process.
const std::filesystem::path& url();

// Creates the folder of the default log file; a folder named by LARDER_LOG is
// left to the user. Called once at program start.
void prepareDefaultFolder();

// Appends "yyyy-MM-dd HH:mm:ss message" in local time to standard error and to
// the log file. Never throws; lines of concurrent writers never interleave.
void write(const std::string& message);

}  // namespace brindle::Log
