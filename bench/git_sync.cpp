// How long a git sync pass over 10,000 small files takes, beside the plain
// git commands that do the same work (add, commit, fetch, push), run here in
// the same run on the same machine. Writes a Markdown table to
// $BRINDLE_BENCH_RESULTS/git_sync.md.
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "common/Files.h"
#include "BenchMachine.h"
#include "common/Process.h"
#include "git/Git.h"
#include "git/Syncer.h"

using namespace brindle;
namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 10000;
constexpr int kChanged = 100;
constexpr int kRepeats = 5;

double seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string fileName(int i) {
    return "folder" + std::to_string(i / 100) + "/note" + std::to_string(i) + ".md";
}

void fillFolder(const fs::path& folder) {
    for (int i = 0; i < kFiles; ++i) writeFile(folder / fileName(i), "Note " + std::to_string(i) + "\nsome text\n");
}

void changeFiles(const fs::path& folder, int round) {
    for (int i = 0; i < kChanged; ++i)
        writeFile(folder / fileName((round * 997 + i * 89) % kFiles),
                  "changed in round " + std::to_string(round) + "\n");
}

void required(const Git& git, const std::vector<std::string>& args) {
    GitResult result = git.run(args);
    if (result.status != 0) throw GitError(args, result);
}

// The plain git commands a person would type to do the same work.
void plainPass(const Git& git) {
    required(git, {"add", "-A"});
    git.run({"commit", "-q", "-m", "bench"});  // "nothing to commit" is fine
    required(git, {"fetch", "-q", "origin"});
    required(git, {"push", "-q", "origin", "HEAD:refs/heads/main"});
}

std::string today() {
    std::time_t now = std::time(nullptr);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return text;
}

struct Row {
    std::string pass;
    double brindle = 0;
    double plain = 0;
};

}  // namespace

int main() {
    fs::path root = fs::temp_directory_path() / ("brindle-bench-" + Files::newUUID().substr(0, 8));
    ::setenv("GIT_CONFIG_GLOBAL", "/dev/null", 1);
    ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
    // Housekeeping that git starts in the background after a commit would
    // run into the next measurement; both sides go without it.
    ::setenv("GIT_CONFIG_COUNT", "2", 1);
    ::setenv("GIT_CONFIG_KEY_0", "gc.auto", 1);
    ::setenv("GIT_CONFIG_VALUE_0", "0", 1);
    ::setenv("GIT_CONFIG_KEY_1", "maintenance.auto", 1);
    ::setenv("GIT_CONFIG_VALUE_1", "false", 1);
    ::setenv("LARDER_LOG", (root / "bench.log").c_str(), 1);
    fs::create_directories(root);
    for (const char* name : {"synced.git", "plain.git"})
        Process::run(Git::kExecutable, {Git::kExecutable, "init", "-q", "--bare", "-b", "main", (root / name).string()},
                     {});

    // The syncer on one folder, plain git on an identical one.
    fs::path synced = root / "synced", plain = root / "plain";
    fillFolder(synced);
    fillFolder(plain);
    Syncer syncer(synced, Git(root / "synced-state.git", synced), "file://" + (root / "synced.git").string(), "Bench");
    Git git(root / "plain-state.git", plain);
    required(git, {"init", "-q", "-b", "main"});
    required(git, {"config", "user.name", "Bench"});
    required(git, {"config", "user.email", "bench@example.invalid"});
    required(git, {"remote", "add", "origin", "file://" + (root / "plain.git").string()});

    std::vector<Row> rows;
    rows.push_back({"first pass, " + std::to_string(kFiles) + " new files", seconds([&] { syncer.sync(); }),
                    seconds([&] { plainPass(git); })});
    std::vector<double> ours, theirs;
    for (int i = 0; i < kRepeats; ++i) {
        ours.push_back(seconds([&] { syncer.sync(); }));
        theirs.push_back(seconds([&] { plainPass(git); }));
    }
    rows.push_back({"nothing changed (median of " + std::to_string(kRepeats) + ")", median(ours), median(theirs)});
    ours.clear();
    theirs.clear();
    for (int round = 1; round <= kRepeats; ++round) {
        changeFiles(synced, round);
        changeFiles(plain, round);
        ours.push_back(seconds([&] { syncer.sync(); }));
        theirs.push_back(seconds([&] { plainPass(git); }));
    }
    rows.push_back({std::to_string(kChanged) + " files changed (median of " + std::to_string(kRepeats) + ")",
                    median(ours), median(theirs)});

    std::ostringstream table;
    table << "## git sync pass over " << kFiles << " small files\n\n"
          << "Machine: " << bench::machine() << ". Date: " << today() << ".\n"
          << "Plain git: `add -A`, `commit`, `fetch`, `push` to a local bare repository, run the same way; automatic "
             "gc off for both.\n\n"
          << "| pass | brindle (s) | plain git (s) | ratio |\n|---|---:|---:|---:|\n";
    for (const Row& row : rows) {
        char line[256];
        std::snprintf(line, sizeof line, "| %s | %.3f | %.3f | %.2fx |\n", row.pass.c_str(), row.brindle, row.plain,
                      row.brindle / row.plain);
        table << line;
    }
    std::cout << table.str();
    if (const char* folder = std::getenv("BRINDLE_BENCH_RESULTS")) {
        fs::create_directories(folder);
        std::ofstream(fs::path(folder) / "git_sync.md") << table.str();
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
