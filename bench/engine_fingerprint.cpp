// How long the sync engine takes to notice that nothing changed: the folder
// fingerprint taken before and after every sweep, and a whole pass with
// nothing to do (GitHub run against a local bare repository, with the
// in-process stand-in service), on folders of 10,000 and 100,000 files.
// Writes engine_fingerprint.md into $BRINDLE_BENCH_RESULTS.
#include "common/Files.h"
#include "BenchMachine.h"
#include "devserver/DevServer.h"
#include "engine/Fingerprint.h"
#include "engine/SyncEngine.h"

#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <sys/utsname.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace brindle;

namespace {

double seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto toSeconds = [](const timeval& value) { return value.tv_sec + value.tv_usec / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

struct Timing {
    double median = 0;
    double best = 0;
    double cpu = 0;  // this process's user + system time per run
};

Timing measure(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    double cpuBefore = cpuSeconds();
    for (int i = 0; i < runs; ++i) times.push_back(seconds(work));
    double cpu = (cpuSeconds() - cpuBefore) / runs;
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front(), cpu};
}

// count small files, 500 to a folder.
void makeFolder(const fs::path& folder, int count) {
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "d%03d/file%06d.txt", i / 500, i);
        fs::path path = folder / name;
        if (i % 500 == 0) fs::create_directories(path.parent_path());
        std::ofstream(path) << "line " << i << " of the bench folder\n";
    }
}

int run(const char* program, const std::vector<std::string>& args, const fs::path& in) {
    std::string command = "cd '" + in.string() + "' && " + program;
    for (const auto& arg : args) command += " '" + arg + "'";
    return std::system((command + " >/dev/null 2>&1").c_str());
}

std::string today() {
    std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return text;
}

std::string format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", value);
    return text;
}

}  // namespace

int main() {
    fs::path root = fs::temp_directory_path() / ("brindle-bench-" + Files::newUUID().substr(0, 8));
    fs::create_directories(root);
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"})
        ::setenv(name, root.c_str(), 1);
    ::setenv("LARDER_LOG", (root / "bench.log").c_str(), 1);
    // git's automatic housekeeping after the first big commit would otherwise
    // run detached and hold the repository while the timed passes wait.
    std::ofstream(root / ".gitconfig") << "[gc]\n\tautoDetach = false\n";

    devserver::DevServer server;
    server.start();
    ::setenv("BRINDLE_TEST_ACCOUNT",
             nlohmann::json{{"server", server.url()}, {"device_token", "bench"}}.dump().c_str(), 1);

    std::ostringstream table;
    table << "## Sync engine: noticing that nothing changed\n\n"
          << "Machine: " << bench::machine() << ". Date: " << today() << ".\n\n"
          << "| Files | fingerprint, median (best) | fingerprint CPU per run | no-change syncOnce, median (best) |\n"
          << "|---:|---:|---:|---:|\n";

    for (int count : {10000, 100000}) {
        fs::path base = root / std::to_string(count);
        fs::path folder = base / "Larder";
        fs::path remotes = base / "remotes";
        makeFolder(folder, count);
        fs::create_directories(remotes / "demo" / "Larder.git");
        run("/usr/bin/git", {"init", "-q", "--bare", "-b", "main"}, remotes / "demo" / "Larder.git");

        fingerprint(folder);  // warm the caches as a running app has them
        Timing print = measure(7, [&] { fingerprint(folder); });

        EngineConfig config;
        config.folder = folder;
        config.stateDir = base / "state";
        config.deviceName = "Bench Box";
        config.remoteBase = "file://" + remotes.string();
        auto engine = SyncEngine::create(config);
        SyncResult first = engine->syncOnce();  // commits and pushes everything
        if (!first.succeeded()) {
            std::cerr << "first pass failed: " << first.description() << "\n";
            return 1;
        }
        Timing pass = measure(3, [&] {
            SyncResult result = engine->syncOnce();
            if (!result.succeeded()) std::cerr << "pass failed: " << result.description() << "\n";
        });
        table << "| " << count << " | " << format(print.median) << " (" << format(print.best) << ") | "
              << format(print.cpu) << " | " << format(pass.median) << " (" << format(pass.best) << ") |\n";
        std::cout << count << " files: fingerprint " << format(print.median) << ", no-change pass "
                  << format(pass.median) << std::endl;
    }
    double load[1] = {0};
    ::getloadavg(load, 1);
    table << "\nGoal: fingerprint of 100,000 files under 0.3 s. A pass takes the fingerprint "
          << "twice (before and after its sweep); the rest is git's status, fetch and the reports. "
          << "Load average at the end: " << load[0] << " (wall times grow with other work on the machine; "
          << "the CPU column does not).\n";

    std::error_code ignored;
    fs::remove_all(root, ignored);
    const char* results = std::getenv("BRINDLE_BENCH_RESULTS");
    fs::path out = fs::path(results ? results : ".") / "engine_fingerprint.md";
    std::ofstream(out) << table.str();
    std::cout << table.str();
    return 0;
}
