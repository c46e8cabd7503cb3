// The three-way reconciler with a drive store against rclone bisync and
// unison, each syncing two local folders in its usual way: (a) a first sync
// of 10,000 files into an empty folder, (b) a sync with nothing changed on
// 100,000 files, (c) 100 files changed on each side within 100,000. Every
// tool runs as a child process, timed by the wall clock, its peak memory read
// from wait4. Also measures the content hash against OpenSSL's own SHA-256
// figure. Writes threeway_drive.md to $BRINDLE_BENCH_RESULTS.

#include "common/DropboxHash.h"
#include "drives/DriveStore.h"
#include "threeway/DropboxSyncer.h"

#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace brindle;

namespace {

// The reconciler as the engine runs it for a drive: one worker, no size limit.
int runSync(const fs::path& folder, const fs::path& volume, const fs::path& stateDir) {
    auto drive = std::make_shared<DriveStore>(volume, "bench-drive", stateDir / "drive-bench-hashes.json");
    DropboxSyncer syncer(folder, stateDir / "drive-bench.json", drive, "Bench", std::nullopt, 1);
    syncer.setLog([](const std::string&) {});
    try {
        syncer.sync();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

struct Measured {
    double seconds = 0;
    long maxRssKB = 0;
    int status = -1;
};

Measured measure(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                 const fs::path& logFile) {
    auto started = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Measured result;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.maxRssKB = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

void shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::cerr << "failed: " << command << "\n";
}

std::string capture(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
        ::pclose(pipe);
    }
    return text;
}

// File i of a generated tree: 100 files to a folder.
fs::path fileOf(const fs::path& root, int i) {
    char name[64];
    std::snprintf(name, sizeof name, "d%d/f%d.dat", i / 100, i);
    return root / name;
}

// count files of sizes in [minSize, maxSize].
void makeTree(const fs::path& root, int count, size_t minSize, size_t maxSize, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string content(maxSize, '\0');
    for (int i = 0; i < count; ++i) {
        fs::path file = fileOf(root, i);
        if (i % 100 == 0) fs::create_directories(file.parent_path());
        size_t size = minSize + random() % (maxSize - minSize + 1);
        for (size_t at = 0; at + 8 <= size; at += 8) {
            uint64_t word = random();
            std::memcpy(content.data() + at, &word, 8);
        }
        std::ofstream(file, std::ios::binary).write(content.data(), static_cast<std::streamsize>(size));
    }
}

// Rewrites n files of the tree with new random content.
void change(const fs::path& root, int total, int n, unsigned seed, const std::string& tag) {
    std::mt19937_64 random(seed);
    for (int k = 0; k < n; ++k) {
        int i = static_cast<int>(random() % static_cast<uint64_t>(total));
        std::ofstream out(fileOf(root, i), std::ios::binary | std::ios::trunc);
        out << tag << random() << std::string(random() % 3000, 'c');
    }
}

size_t countFiles(const fs::path& root) {
    size_t count = 0;
    for (auto& entry : fs::recursive_directory_iterator(root))
        count += entry.is_regular_file() && entry.path().filename().string().rfind(".", 0) != 0;
    return count;
}

struct Tool {
    std::string name;
    // The command for one sync of a and b; first: the very first sync.
    std::function<std::vector<std::string>(const fs::path& a, const fs::path& b, const fs::path& work, bool first)> command;
};

struct Row {
    std::string scenario, tool;
    Measured result;
    bool ok = true;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--sync") return runSync(argv[2], argv[3], argv[4]);

    fs::path results = std::getenv("BRINDLE_BENCH_RESULTS") ? std::getenv("BRINDLE_BENCH_RESULTS") : "bench/results";
    if (fs::exists("scripts/bench-deps.sh")) shell("scripts/bench-deps.sh");
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path base = fs::temp_directory_path() / ("brindle-bench-threeway-" + std::to_string(::getpid()));
    fs::create_directories(base);
    const fs::path logFile = base / "tools.log";
    std::string loadBefore = capture("cat /proc/loadavg");

    std::vector<Tool> tools{
        {"Brindle (reconciler + drive store)",
         [&](const fs::path& a, const fs::path& b, const fs::path& work, bool) {
             return std::vector<std::string>{self.string(), "--sync", a.string(), b.parent_path().string(),
                                             (work / "state").string()};
         }},
        {"rclone bisync",
         [](const fs::path& a, const fs::path& b, const fs::path& work, bool first) {
             std::vector<std::string> args{"rclone", "bisync", a.string(), b.string(), "--workdir",
                                           (work / "rclone").string(), "--config", (work / "rclone.conf").string()};
             if (first) args.push_back("--resync");
             return args;
         }},
        {"unison",
         [](const fs::path& a, const fs::path& b, const fs::path&, bool) {
             return std::vector<std::string>{"unison", a.string(), b.string(), "-batch", "-ui", "text"};
         }},
    };
    auto envFor = [&](const fs::path& work) {
        return std::map<std::string, std::string>{{"HOME", work.string()}, {"UNISON", (work / "unison").string()}};
    };

    std::vector<Row> rows;
    auto record = [&](const std::string& scenario, const Tool& tool, Measured result, bool ok) {
        rows.push_back({scenario, tool.name, result, ok && result.status == 0});
        std::cerr << scenario << " | " << tool.name << " | " << result.seconds << " s | " << result.maxRssKB / 1024
                  << " MB | status " << result.status << (ok ? "" : " | WRONG RESULT") << "\n";
    };

    // (a) a first sync of 10,000 files of 1-64 KB into an empty folder.
    const fs::path sourceA = base / "source-10k";
    makeTree(sourceA, 10000, 1024, 65536, 1);
    for (size_t t = 0; t < tools.size(); ++t) {
        fs::path work = base / ("a-" + std::to_string(t));
        fs::path a = work / "A", b = work / "V/Larder";
        fs::create_directories(b);
        fs::create_directories(work / "unison");
        shell("cp -a " + sourceA.string() + " " + a.string());
        shell("sync");
        Measured result = measure(tools[t].command(a, b, work, true), envFor(work), logFile);
        record("(a) first sync, 10,000 files of 1-64 KB", tools[t], result, countFiles(b) == 10000);
        fs::remove_all(work);
    }
    fs::remove_all(sourceA);

    // (b) and (c) over 100,000 files of 1-4 KB, both sides already in step.
    const fs::path sourceB = base / "source-100k";
    makeTree(sourceB, 100000, 1024, 4096, 2);
    for (size_t t = 0; t < tools.size(); ++t) {
        fs::path work = base / ("b-" + std::to_string(t));
        fs::path a = work / "A", b = work / "V/Larder";
        fs::create_directories(work / "V");
        fs::create_directories(work / "unison");
        shell("cp -a " + sourceB.string() + " " + a.string());
        shell("cp -a " + sourceB.string() + " " + b.string());
        Measured setUp = measure(tools[t].command(a, b, work, true), envFor(work), logFile);
        if (setUp.status != 0) std::cerr << tools[t].name << ": the initial sync failed\n";

        std::vector<double> times;
        long peak = 0;
        int status = 0;
        for (int rep = 0; rep < 3; ++rep) {
            Measured run = measure(tools[t].command(a, b, work, false), envFor(work), logFile);
            times.push_back(run.seconds);
            peak = std::max(peak, run.maxRssKB);
            status = std::max(status, run.status);
        }
        record("(b) nothing changed, 100,000 files", tools[t], Measured{median(times), peak, status}, true);

        times.clear();
        peak = 0;
        status = 0;
        bool ok = true;
        for (int rep = 0; rep < 3; ++rep) {
            change(a, 100000, 100, 10 + rep, rep == 0 ? "a0" : rep == 1 ? "a1" : "a2");
            change(b, 100000, 100, 20 + rep, rep == 0 ? "b0" : rep == 1 ? "b1" : "b2");
            // The reconciler leaves files changed in the last second for a
            // later pass (they may still be being written); let the edits
            // settle so every tool syncs all of them, outside the timing.
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            Measured run = measure(tools[t].command(a, b, work, false), envFor(work), logFile);
            times.push_back(run.seconds);
            peak = std::max(peak, run.maxRssKB);
            status = std::max(status, run.status);
            ok = ok && capture("diff -rq -x '.*' " + a.string() + " " + b.string() + " | grep -v conflict | wc -l") == "0\n";
        }
        record("(c) 100 files changed on each side, 100,000 files", tools[t], Measured{median(times), peak, status}, ok);
        fs::remove_all(work);
    }
    fs::remove_all(sourceB);

    // The content hash against the machine's single-core SHA-256 speed.
    fs::path big = base / "hash-input";
    {
        std::ofstream out(big, std::ios::binary);
        std::string block(1 << 20, 'h');
        for (int i = 0; i < 512; ++i) {
            block[static_cast<size_t>(i)] = static_cast<char>(i);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    DropboxHash::of(big);  // into the page cache
    double best = 1e9;
    for (int rep = 0; rep < 5; ++rep) {
        auto started = std::chrono::steady_clock::now();
        DropboxHash::of(big);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    double hashMBs = 512.0 * 1048576 / best / 1e6;
    std::string speed = capture("openssl speed -evp sha256 -bytes 16384 -seconds 3 2>/dev/null | grep -i '^sha256'");
    double opensslMBs = 0;
    {
        std::istringstream fields(speed);
        std::string field, last;
        while (fields >> field) last = field;
        if (!last.empty() && last.back() == 'k') opensslMBs = std::stod(last.substr(0, last.size() - 1)) / 1000;
    }
    fs::remove_all(base);
    std::string loadAfter = capture("cat /proc/loadavg");

    // The table.
    utsname machine{};
    ::uname(&machine);
    std::string cpu = capture("grep -m1 'model name' /proc/cpuinfo | cut -d: -f2");
    std::ostringstream md;
    auto trim = [](std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        while (!text.empty() && text.front() == ' ') text.erase(0, 1);
        return text;
    };
    md << "## threeway_drive: reconciler with a drive store, rclone bisync, unison\n\n";
    md << "Machine: " << trim(cpu) << ", " << ::sysconf(_SC_NPROCESSORS_ONLN) << " cores, " << machine.sysname << " "
       << machine.release << "; " << trim(capture("date -u '+%Y-%m-%d %H:%M UTC'")) << ".\n";
    md << "Load average before: " << trim(loadBefore) << "; after: " << trim(loadAfter)
       << " (the machine is shared; wall times include waiting for the CPU).\n\n";
    md << "Each tool syncs two local folders as a child process; wall time (median of 3 runs for (b) and (c)), "
          "peak resident memory from wait4. Ratio = the tool's time / Brindle's time.\n\n";
    md << "| Scenario | Tool | Wall time (s) | Peak memory (MB) | Ratio | Result |\n|---|---|---|---|---|---|\n";
    std::map<std::string, double> brindleTime;
    for (const auto& row : rows)
        if (row.tool.starts_with("Brindle")) brindleTime[row.scenario] = row.result.seconds;
    for (const auto& row : rows) {
        char line[512];
        std::snprintf(line, sizeof line, "| %s | %s | %.3f | %.1f | %.2f | %s |\n", row.scenario.c_str(),
                      row.tool.c_str(), row.result.seconds, static_cast<double>(row.result.maxRssKB) / 1024,
                      row.result.seconds / brindleTime[row.scenario], row.ok ? "ok" : "FAILED");
        md << line;
    }
    char line[512];
    std::snprintf(line, sizeof line,
                  "\nContent hash (DropboxHash::of, 512 MiB file in the page cache, best of 5): %.0f MB/s; "
                  "`openssl speed -evp sha256` (16 KiB blocks, one core): %.0f MB/s; %.0f%%.\n",
                  hashMBs, opensslMBs, opensslMBs > 0 ? 100 * hashMBs / opensslMBs : 0.0);
    md << line;
    fs::create_directories(results);
    std::ofstream(results / "threeway_drive.md") << md.str();
    std::cout << md.str();
    return 0;
}
