#pragma once

#include <filesystem>
#include <string>

namespace brindle {

// The sync engine's configuration, fixed when the engine is created.
struct EngineConfig {
    std::filesystem::path folder;    // the Larder folder
    std::filesystem::path stateDir;  // holds "sync.git" and the reconcilers' state files
    std::string deviceName;          // commit author and message prefix
    double progressSeconds = 5.0;    // minimum seconds between progress reports
    std::string remoteBase;          // base of the git remote URLs: githubBase()

    // LARDER_FOLDER (default HOME/Desktop/Larder), LARDER_STATE_DIR (default
    // $XDG_DATA_HOME/Larder), BRINDLE_PROGRESS_SECONDS (default 5.0, also when
    // unreadable or negative), the computer's name and githubBase(). Reads
    // only the environment and the host name.
    static EngineConfig fromEnvironment();
};

// The GitHub web host, also the base of the repositories' remote URLs.
inline constexpr const char* kGitHubWebBase = "https://github.com";

// The base of the remote URLs: LARDER_GITHUB_BASE when set, else the GitHub web
// host, with every leading and trailing "/" trimmed. Computed once per process.
const std::string& githubBase();

// text with every leading and trailing "/" removed.
std::string trimSlashes(const std::string& text);

// The computer's name: PRETTY_HOSTNAME in machineInfo (an /etc/machine-info
// style file) when it is set and not empty, else the host name.
std::string computerName(const std::filesystem::path& machineInfo = "/etc/machine-info");

// Reads a BRINDLE_PROGRESS_SECONDS value: a decimal number, else 5.0.
double progressSecondsFrom(const char* text);

}  // namespace brindle
