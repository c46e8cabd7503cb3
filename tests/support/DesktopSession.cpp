#include "support/DesktopSession.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "support/TempDir.h"

namespace brindle::test {
namespace {

// The output of a shell command line, trimmed of its last line break.
std::string capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (size_t read = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, read);
        ::pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// Whether a process still runs (a zombie waiting for its reaper does not).
bool running(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// Stops a server started through a shell (not our child); waits until it is
// gone and, for an X server, its display number is free.
void stop(pid_t pid, const std::filesystem::path& lock = {}) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 250 && (running(pid) || (!lock.empty() && std::filesystem::exists(lock))); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

DesktopSession::~DesktopSession() {
    stop(xPid_, display_.empty() ? "" : "/tmp/.X" + display_.substr(1) + "-lock");
    stop(busPid_);
}

bool DesktopSession::startBus() {
    std::string lines = capture(
        "dbus-daemon --config-file=/usr/share/dbus-1/session.conf --fork --print-address=1 --print-pid=1 2>/dev/null");
    size_t split = lines.find('\n');
    if (split == std::string::npos) return false;
    bus_ = lines.substr(0, split);
    busPid_ = static_cast<pid_t>(std::stol(lines.substr(split + 1)));
    return !bus_.empty();
}

bool DesktopSession::startX() {
    std::filesystem::path number = std::filesystem::temp_directory_path() /
                                   ("brindle-xvfb-" + std::to_string(::getpid()) + "-" + std::to_string(busPid_));
    std::string pid = capture("Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>'" + number.string() +
                              "' >/dev/null 2>&1 & echo $!");
    if (pid.empty()) return false;
    xPid_ = static_cast<pid_t>(std::stol(pid));
    for (int i = 0; i < 500 && !display_.size(); ++i) {
        std::string text = readFile(number);
        if (!text.empty() && text.back() == '\n') display_ = ":" + text.substr(0, text.size() - 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::filesystem::remove(number);
    return !display_.empty();
}

}  // namespace brindle::test
