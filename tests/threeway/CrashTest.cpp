// Kills a process in the middle of drive syncs, again and again, with edits
// on both sides in between, then lets a sync finish and checks that nothing
// was lost, truncated or left behind. The process killed is this test program
// itself, started again with BRINDLE_CRASH_SYNC set: it then runs one sync and
// exits before the tests start.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>

#include "drives/DriveStore.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "threeway/DropboxSyncer.h"

using namespace brindle;
namespace fs = std::filesystem;

namespace {

double realNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The child: "folder|volume|stateDir|clockOffset" in BRINDLE_CRASH_SYNC.
int runSyncChild(const std::string& spec) {
    std::vector<std::string> parts;
    for (size_t start = 0, end; start <= spec.size(); start = end + 1) {
        end = spec.find('|', start);
        if (end == std::string::npos) end = spec.size();
        parts.push_back(spec.substr(start, end - start));
    }
    if (parts.size() != 4) return 2;
    fs::path stateDir = parts[2];
    double offset = std::stod(parts[3]);
    auto drive = std::make_shared<DriveStore>(parts[1], "drive-1", stateDir / "drive-drive-1-hashes.json");
    drive->setClock([offset] { return realNow() + offset; });
    DropboxSyncer syncer(parts[0], stateDir / "drive-drive-1.json", drive, "USB", std::nullopt, 1);
    syncer.setClock([offset] { return realNow() + offset; });
    syncer.setLog([](const std::string&) {});
    int status = 0;
    try {
        syncer.sync();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    std::printf("events %zu\n", syncer.events().size());
    std::fflush(stdout);
    return status;
}

const bool kRanAsChild = [] {
    if (const char* spec = std::getenv("BRINDLE_CRASH_SYNC")) ::_exit(runSyncChild(spec));
    return false;
}();

// Runs this program as the child syncing with spec; kills it after killAfter
// seconds unless it has finished.
int runChild(const std::vector<std::string>& argv, const std::string& spec, std::string* out = nullptr,
             std::optional<double> killAfter = std::nullopt) {
    test::ChildProcess child(argv, {{"BRINDLE_CRASH_SYNC", spec}});
    int status = child.wait(killAfter);
    if (out) *out = child.output();
    return status;
}

// Every file under root, relative path -> content.
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) tree[fs::relative(entry.path(), root).string()] = test::readFile(entry.path());
    return tree;
}

// The two sides as a user edits them, and what must come out of the syncs:
// every version written that no later edit on the same side replaced must
// survive somewhere (at its path or in a conflict copy), and every file must
// hold one whole version.
class Model {
public:
    Model(fs::path local, fs::path drive, unsigned seed) : sides_{std::move(local), std::move(drive)}, random_(seed) {}

    std::set<std::string> written;      // every version ever written
    std::set<std::string> mustSurvive;  // versions no edit has replaced

    void create(int side, const std::string& path) {
        paths_.push_back(path);
        put(side, path);
    }

    // A round of a user's work on one side: edits, new files, deletions.
    void work(int side, int edits, int creations, int deletions) {
        for (int i = 0; i < edits; ++i)
            if (auto path = existing(side)) put(side, *path);
        for (int i = 0; i < creations; ++i)
            create(side, "new/" + std::to_string(side) + "-" + std::to_string(counter_) + ".txt");
        for (int i = 0; i < deletions; ++i) {
            if (auto path = existing(side)) {
                mustSurvive.erase(test::readFile(sides_[side] / *path));
                fs::remove(sides_[side] / *path);
            }
        }
    }

    size_t pick(size_t below) { return std::uniform_int_distribution<size_t>(0, below - 1)(random_); }

private:
    void put(int side, const std::string& path) {
        fs::path file = sides_[side] / path;
        std::string old = test::readFile(file);
        mustSurvive.erase(old);  // the user saw it and replaced it
        std::string content = "version " + std::to_string(counter_++) + " of " + path + "\n";
        content.append(pick(3000), static_cast<char>('a' + pick(26)));
        if (content.size() == old.size()) content += '.';
        test::writeFile(file, content);
        written.insert(content);
        mustSurvive.insert(content);
    }

    std::optional<std::string> existing(int side) {
        for (int tries = 0; tries < 20; ++tries) {
            const std::string& path = paths_[pick(paths_.size())];
            if (fs::exists(sides_[side] / path)) return path;
        }
        return std::nullopt;
    }

    fs::path sides_[2];
    std::mt19937 random_;
    std::vector<std::string> paths_;
    int counter_ = 0;
};

}  // namespace

TEST(DriveCrashSafety, KilledDriveSyncsLoseNothing) {
    ASSERT_FALSE(kRanAsChild);
    test::IsolatedHome home;  // the children's deletions go to its Trash
    test::TempDir dir;
    fs::path local = dir / "Larder", volume = dir / "USB", drive = volume / "Larder", stateDir = dir / "state";
    fs::create_directories(local);
    fs::create_directories(drive);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    auto spec = [&](double offset) {
        return local.string() + "|" + volume.string() + "|" + stateDir.string() + "|" + std::to_string(offset);
    };

    unsigned seed = static_cast<unsigned>(std::random_device()());
    SCOPED_TRACE("seed " + std::to_string(seed));
    Model model(local, drive, seed);
    constexpr int kFiles = 2000;
    for (int i = 0; i < kFiles; ++i)
        model.create(i % 2, "folder" + std::to_string(i % 40) + "/file" + std::to_string(i) + ".txt");

    const bool haveStrace = fs::exists("/usr/bin/strace");
    constexpr int kRounds = 12;
    int killed = 0;
    for (int round = 0; round < kRounds; ++round) {
        int status;
        if (haveStrace && round % 2 == 1) {
            // Deterministic kill points: the Nth rename (a file moved into
            // place) or the Nth write (the state file and the hash cache).
            bool renames = round % 4 == 1;
            int when = static_cast<int>(renames ? 1 + model.pick(40) : 1 + model.pick(4));
            status = runChild(test::killedAtCall({self}, renames ? "rename,renameat,renameat2" : "write,fsync", when),
                              spec(10));
        } else {
            // A random moment; the first sync of all the files takes longest.
            double after = round == 0 ? 0.3 + 0.1 * static_cast<double>(model.pick(10))
                                      : 0.02 + 0.01 * static_cast<double>(model.pick(40));
            status = runChild({self}, spec(10), nullptr, after);
        }
        killed += status == 128 + SIGKILL;
        model.work(0, 15, 5, 3);
        model.work(1, 15, 5, 3);
    }
    EXPECT_GE(killed, kRounds / 3);

    // A sync that is left to finish, an hour later by its clock, so the
    // temporary files of the killed runs count as abandoned.
    std::string out;
    ASSERT_EQ(runChild({self}, spec(3600), &out), 0) << out;

    auto localTree = treeOf(local), driveTree = treeOf(drive);
    EXPECT_EQ(localTree.size(), driveTree.size());
    EXPECT_TRUE(localTree == driveTree) << "the two sides differ";
    std::set<std::string> present;
    for (const auto& [path, content] : localTree) {
        EXPECT_EQ(path.find(".brindle-tmp-"), std::string::npos) << path;
        EXPECT_TRUE(model.written.count(content)) << path << " holds a damaged version";
        present.insert(content);
    }
    for (const auto& [path, content] : driveTree) EXPECT_EQ(path.find(".brindle-tmp-"), std::string::npos) << path;
    int lost = 0;
    for (const auto& content : model.mustSurvive) lost += !present.count(content);
    EXPECT_EQ(lost, 0) << "versions lost: " << lost << " of " << model.mustSurvive.size();

    // And then there is nothing left to do.
    std::string state = test::readFile(stateDir / "drive-drive-1.json");
    EXPECT_EQ(runChild({self}, spec(3600), &out), 0);
    EXPECT_EQ(out, "events 0\n");
    EXPECT_TRUE(treeOf(local) == localTree);
    EXPECT_TRUE(treeOf(drive) == driveTree);
    EXPECT_EQ(test::readFile(stateDir / "drive-drive-1.json"), state);
}
