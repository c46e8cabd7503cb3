// Drive syncs killed again and again amid edits on both sides lose, truncate and leave nothing. The
// process killed is this program, run again with BRINDLE_CRASH_SYNC: one sync before any test starts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <random>
#include <set>

#include "common/Text.h"
#include "drives/DriveStore.h"
#include "support/Expect.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "threeway/DropboxSyncer.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

// The child: "folder|volume|stateDir|clockOffset" in BRINDLE_CRASH_SYNC.
int runSyncChild(const std::string& spec) {
    std::vector<std::string> parts = Text::split(spec, '|');
    auto clock = [offset = std::stod(parts.at(3))] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() + offset;
    };
    fs::path stateDir = parts.at(2);
    auto drive = std::make_shared<DriveStore>(parts.at(1), "drive-1", stateDir / "drive-drive-1-hashes.json");
    drive->setClock(clock);
    DropboxSyncer syncer(parts.at(0), stateDir / "drive-drive-1.json", drive, "USB", std::nullopt, 1);
    syncer.setClock(clock);
    syncer.setLog([](const std::string&) {});
    std::string error = failureText([&] { syncer.sync(); });
    std::printf("events %zu\n", syncer.events().size());
    return std::fflush(stdout), error == "(nothing thrown)" ? 0 : 1;
}

const bool kRanAsChild = [] {
    if (const char* spec = std::getenv("BRINDLE_CRASH_SYNC")) ::_exit(runSyncChild(spec));
    return false;
}();

// The two sides as a user edits them: a version no later edit on its side replaced must survive
// (at its path or in a conflict copy), and every file must hold one whole version.
class Model {
public:
    Model(fs::path local, fs::path drive, unsigned seed) : sides_{std::move(local), std::move(drive)}, random_(seed) {}

    std::set<std::string> written, mustSurvive;  // every version ever written; those no edit has replaced

    void create(int side, const std::string& path) {
        paths_.push_back(path);
        put(side, path);
    }
    void work(int side) {  // edits, new files, deletions
        for (int i = 0; i < 15; ++i)
            if (auto path = existing(side)) put(side, *path);
        for (int i = 0; i < 5; ++i) create(side, "new/" + std::to_string(side) + "-" + std::to_string(counter_));
        for (int i = 0; i < 3; ++i)
            if (auto path = existing(side)) {
                mustSurvive.erase(readFile(sides_[side] / *path));
                fs::remove(sides_[side] / *path);
            }
    }
    size_t pick(size_t below) { return std::uniform_int_distribution<size_t>(0, below - 1)(random_); }

private:
    void put(int side, const std::string& path) {
        std::string old = readFile(sides_[side] / path);
        mustSurvive.erase(old);  // the user saw it and replaced it
        std::string content = "version " + std::to_string(counter_++) + " of " + path + "\n";
        content.append(pick(3000), static_cast<char>('a' + pick(26)));
        if (content.size() == old.size()) content += '.';
        writeFile(sides_[side] / path, content);
        written.insert(content);
        mustSurvive.insert(content);
    }
    std::optional<std::string> existing(int side) {
        for (int tries = 0; tries < 20; ++tries)
            if (const std::string& path = paths_[pick(paths_.size())]; fs::exists(sides_[side] / path)) return path;
        return std::nullopt;
    }

    fs::path sides_[2];
    std::mt19937 random_;
    std::vector<std::string> paths_;
    int counter_ = 0;
};

TEST(DriveCrashSafety, KilledDriveSyncsLoseNothing) {
    ASSERT_FALSE(kRanAsChild);
    IsolatedHome home;  // the children's deletions go to its Trash
    TempDir dir;
    fs::path local = dir / "Larder", volume = dir / "USB", drive = volume / "Larder", stateDir = dir / "state";
    for (auto& side : {local, drive}) fs::create_directories(side);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    auto run = [&](const std::vector<std::string>& argv, double offset, std::optional<double> killAfter = {}) {
        ChildProcess child(argv, {{"BRINDLE_CRASH_SYNC", local.string() + "|" + volume.string() + "|" +
                                                             stateDir.string() + "|" + std::to_string(offset)}});
        int status = child.wait(killAfter);
        return std::pair(status, child.output());
    };
    unsigned seed = static_cast<unsigned>(std::random_device()());
    SCOPED_TRACE("seed " + std::to_string(seed));
    Model model(local, drive, seed);
    for (int i = 0; i < 2000; ++i) model.create(i % 2, "folder" + std::to_string(i % 40) + "/file" + std::to_string(i));
    const bool haveStrace = fs::exists("/usr/bin/strace");
    int killed = 0;
    for (int round = 0; round < 12; ++round) {
        // the Nth rename of a file into place, the Nth write of the state, the cache or their journals, or a
        // random moment
        bool renames = round % 4 == 1;
        int when = static_cast<int>(renames ? 1 + model.pick(40) : 1 + model.pick(4));
        double after = round == 0 ? 0.3 + 0.1 * static_cast<double>(model.pick(10))
                                  : 0.02 + 0.01 * static_cast<double>(model.pick(40));
        auto argv =
            killedAtCall({self}, renames ? "rename,renameat,renameat2" : "write,pwrite64,fsync,fdatasync", when);
        int status = haveStrace && round % 2 == 1 ? run(argv, 10).first : run({self}, 10, after).first;
        killed += status == 128 + SIGKILL;
        for (int side : {0, 1}) model.work(side);
    }
    EXPECT_GE(killed, 4);
    // a sync left to finish an hour later by its clock, when the killed runs' temporary files are abandoned
    auto [status, out] = run({self}, 3600);
    ASSERT_EQ(status, 0) << out;
    Tree localTree = filesIn(local), driveTree = filesIn(drive);
    EXPECT_TRUE(localTree == driveTree) << "the two sides differ";
    std::set<std::string> present;
    for (const auto& [path, content] : localTree) {
        EXPECT_THAT(path, Not(HasSubstr(".brindle-tmp-")));
        EXPECT_TRUE(model.written.count(content)) << path << " holds a damaged version";
        present.insert(content);
    }
    auto lost = std::ranges::count_if(model.mustSurvive, [&](auto& content) { return !present.count(content); });
    EXPECT_EQ(lost, 0) << "versions lost of " << model.mustSurvive.size();
    std::string state = readFile(stateDir / "drive-drive-1.json");  // and then there is nothing left to do
    EXPECT_EQ(run({self}, 3600), std::pair(0, std::string("events 0\n")));
    EXPECT_TRUE(filesIn(local) == localTree && filesIn(drive) == driveTree &&
                readFile(stateDir / "drive-drive-1.json") == state);
}

}  // namespace
}  // namespace brindle::test
