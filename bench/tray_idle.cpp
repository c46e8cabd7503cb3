// The tray application's own cost while nothing changes: resident memory and
// CPU time of an idle `brindle` (signed in to the stand-in service, an empty
// Larder folder, no store connected), measured from /proc over a quiet
// minute. Runs the tray under an X server without a screen (Xvfb) and a
// private D-Bus session when those exist, and on Qt's offscreen platform in
// any case. Writes tray_idle.md into $BRINDLE_BENCH_RESULTS.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

#include "BenchMachine.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "service/Brindle.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace brindle;

namespace {

constexpr int kSettleSeconds = 20;
constexpr int kQuietSeconds = 60;

std::string capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (size_t read = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, read);
        ::pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// VmRSS and VmHWM of a process, in MB.
std::pair<double, double> memory(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    double rss = 0, peak = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) rss = std::stod(line.substr(6)) / 1024;
        if (line.rfind("VmHWM:", 0) == 0) peak = std::stod(line.substr(6)) / 1024;
    }
    return {rss, peak};
}

// User plus system CPU seconds of a process so far.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field; ++index)
        if (index == 14 || index == 15) ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct Row {
    std::string platform;
    double rss = 0, peak = 0, cpu = 0;
};

Row measure(const std::string& platform, const std::vector<std::string>& env) {
    std::vector<std::string> all;
    for (char** each = environ; *each; ++each) all.emplace_back(*each);
    all.insert(all.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& entry : all) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const char* argv[] = {BRINDLE_BIN, nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, BRINDLE_BIN, nullptr, nullptr, const_cast<char**>(argv), envp.data()) != 0) return {};
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    double before = cpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(kQuietSeconds));
    Row row{platform, 0, 0, cpuSeconds(pid) - before};
    std::tie(row.rss, row.peak) = memory(pid);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return row;
}

}  // namespace

int main() {
    fs::path home = fs::temp_directory_path() / ("brindle-bench-tray-" + std::to_string(::getpid()));
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) ::unsetenv(name);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("LARDER_LOG", (home / "brindle.log").c_str(), 1);
    devserver::DevServer server;
    server.start();
    server.brindle().setAcceptAnyToken(true);
    server.brindle().setStores({});
    server.brindle().setGitHubRepo(std::nullopt);
    ::setenv("BRINDLE_URL", server.url().c_str(), 1);
    Brindle::storeAccount({server.url(), "device-token-1"});
    std::vector<std::string> common{"XDG_RUNTIME_DIR=" + (home / "run").string(),
                                    "LARDER_FOLDER=" + (home / "Larder").string()};

    std::vector<Row> rows;
    std::vector<std::string> offscreen = common;
    offscreen.push_back("QT_QPA_PLATFORM=offscreen");
    rows.push_back(measure("offscreen", offscreen));

    std::string bus = capture("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null");
    fs::path number = home / "display";
    std::string xvfb = capture("Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>'" + number.string() +
                               "' >/dev/null 2>&1 & echo $!");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::string display = capture("cat '" + number.string() + "' 2>/dev/null");
    if (!bus.empty() && !display.empty()) {
        std::vector<std::string> x11 = common;
        x11.push_back("DISPLAY=:" + display);
        x11.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.substr(0, bus.find('\n')));
        rows.push_back(measure("X11 (Xvfb), private D-Bus session", x11));
    }
    // Only the two servers started here, by their process ids.
    if (!xvfb.empty()) ::kill(static_cast<pid_t>(std::stol(xvfb)), SIGTERM);
    if (bus.find('\n') != std::string::npos)
        ::kill(static_cast<pid_t>(std::stol(bus.substr(bus.find('\n') + 1))), SIGTERM);

    std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::ostringstream table;
    table << "## Tray application at rest\n\n"
          << "An idle `brindle` tray (signed in, empty Larder folder, nothing to sync), measured " << kSettleSeconds
          << " s after start over " << kQuietSeconds << " quiet seconds. Machine: " << bench::machine()
          << ". Date: " << date << ".\n\n"
          << "| platform | resident memory (MB) | peak resident (MB) | CPU over " << kQuietSeconds << " s (s) |\n"
          << "|---|---:|---:|---:|\n";
    for (const Row& row : rows) {
        char line[256];
        std::snprintf(line, sizeof line, "| %s | %.1f | %.1f | %.3f |\n", row.platform.c_str(), row.rss, row.peak,
                      row.cpu);
        table << line;
    }
    table << "\nGoal: no polling while idle besides the 60-second sync tick and the wake check every 5 s, so the CPU "
             "column stays near zero.\n";
    std::cout << table.str();
    if (const char* folder = std::getenv("BRINDLE_BENCH_RESULTS")) {
        fs::create_directories(folder);
        std::ofstream(fs::path(folder) / "tray_idle.md") << table.str();
    }
    fs::remove_all(home);
    return 0;
}
