// `brindle --sync-once` over a folder and a drive, the way users meet it:
// passes killed mid-way, two passes at once, deletions taken back from the
// Trash, a full disk and names no store can hold.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "drives/DriveMarker.h"
#include "support/DriveProgram.h"
#include "support/RunProgram.h"
#include "support/ScratchMount.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::DevServer;
using nlohmann::json;
using Files = std::map<std::string, std::string>;  // relative path → content

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class DriveSyncOnceTest : public test::DriveProgram {
protected:
    test::ProgramResult syncOnce() const { return brindle({"--sync-once"}); }

    static Files filesIn(const fs::path& root) {
        Files files;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file())
                files[entry.path().lexically_relative(root).generic_string()] = test::readFile(entry.path());
        return files;
    }
    static int conflictCopies(const fs::path& root) {
        int count = 0;
        std::error_code error;
        for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
            count += it->path().filename().string().find("(conflict from Stick") != std::string::npos;
        return count;
    }

    // Every file differs between the folder and the drive, with no history.
    void makeDiffering(int count) {
        for (int i = 0; i < count; ++i) {
            std::string name = "f" + std::to_string(i) + ".txt";
            writeOld(folder / name, "here " + std::to_string(i));
            writeOld(drive / name, "there " + std::to_string(i));
        }
    }
    // Both sides hold our version of each file and exactly one copy of the
    // drive's, and nothing else.
    void expectOneCopyEach(int count) {
        Files here = filesIn(folder);
        EXPECT_TRUE(here == filesIn(drive)) << "the two sides differ";
        EXPECT_EQ(here.size(), 2u * count);
        EXPECT_EQ(conflictCopies(folder), count);
        for (int i = 0; i < count; ++i) EXPECT_EQ(here["f" + std::to_string(i) + ".txt"], "here " + std::to_string(i));
        for (const auto& [path, content] : here) {
            EXPECT_EQ(path.find(".brindle-tmp-"), std::string::npos) << path;
            bool copy = path.find("(conflict from Stick") != std::string::npos;
            EXPECT_TRUE(!copy || content.starts_with("there ")) << path;
        }
    }
};

TEST_F(DriveSyncOnceTest, KilledFirstSyncsThenCleanPassesMakeOneConflictCopyEach) {
    constexpr int kFiles = 150;
    makeDiffering(kFiles);
    // kill -9 each time a few more conflicts have been settled
    for (int target : {5, 25, 45, 65, 85, 105}) {
        test::ChildProcess pass(test::brindleCommand({"--sync-once"}), env());
        while (!pass.finished() && conflictCopies(folder) < target)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        pass.kill();
    }
    for (int clean = 0; clean < 2; ++clean) {
        test::ProgramResult result = syncOnce();
        ASSERT_EQ(result.status, 0) << result.err;
    }
    expectOneCopyEach(kFiles);
}

TEST_F(DriveSyncOnceTest, TwoPassesAtOnceMakeOneConflictCopyEach) {
    constexpr int kFiles = 150;
    makeDiffering(kFiles);
    test::ChildProcess first(test::brindleCommand({"--sync-once"}), env());
    test::ChildProcess second(test::brindleCommand({"--sync-once"}), env());
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
    expectOneCopyEach(kFiles);
}

TEST_F(DriveSyncOnceTest, DeletionFromTheDriveGoesToTheTrashAndARestoreIsUploaded) {
    for (auto name : {"a.md", "b.md", "c.md"}) writeOld(folder / name, name);
    test::ProgramResult first = syncOnce();
    ASSERT_EQ(first.status, 0) << first.err;
    fs::remove(drive / "b.md");
    ASSERT_EQ(syncOnce().status, 0);
    EXPECT_FALSE(fs::exists(folder / "b.md"));

    fs::path trash = home.path() / ".local/share/Trash";
    EXPECT_EQ(test::readFile(trash / "files/b.md"), "b.md");
    EXPECT_TRUE(fs::exists(trash / "info/b.md.trashinfo"));

    // a file manager's Restore moves it back
    fs::rename(trash / "files/b.md", folder / "b.md");
    fs::remove(trash / "info/b.md.trashinfo");
    ASSERT_EQ(syncOnce().status, 0);
    EXPECT_EQ(test::readFile(drive / "b.md"), "b.md");
    EXPECT_EQ(test::readFile(folder / "b.md"), "b.md");
}

TEST_F(DriveSyncOnceTest, FullDiskKeepsTheOldFileAndTheNextPassWithSpaceConverges) {
    test::ScratchMount disk(folder, 1 << 20);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    writeOld(folder / "big.bin", std::string(400000, 'o'));
    ASSERT_EQ(syncOnce().status, 0);
    std::string edited(700000, 'n');
    writeOld(drive / "big.bin", edited);

    test::ProgramResult full = syncOnce();
    EXPECT_NE(full.status, 0);
    EXPECT_NE(full.err.find("big.bin: No space left on device"), std::string::npos) << full.err;
    EXPECT_EQ(filesIn(folder), (Files{{"big.bin", std::string(400000, 'o')}}));  // no temporary file either

    ASSERT_TRUE(disk.resize(4 << 20));
    test::ProgramResult roomy = syncOnce();
    ASSERT_EQ(roomy.status, 0) << roomy.err;
    EXPECT_EQ(test::readFile(folder / "big.bin"), edited);
}

TEST_F(DriveSyncOnceTest, NameNoStoreCanHoldIsReportedOnEveryPass) {
    writeOld(drive / "ok.txt", "fine");
    writeOld(drive / std::string("caf\xe9.txt"), "latin-1 name");
    for (int pass = 1; pass <= 2; ++pass) {
        test::ProgramResult result = syncOnce();
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "Up to date.\n");
        // log lines go to standard error too; the warning is one line of its own
        EXPECT_EQ(occurrences(result.err, "Warning: "), 1u) << result.err;
        EXPECT_NE(result.err.find("\nWarning: 1 file(s) are not kept in step (each is named in the log). First: "
                                  "Stick: caf\xef\xbf\xbd.txt: its name on the drive is not valid UTF-8\n"),
                  std::string::npos)
            << result.err;

        json closing = server.brindle().reports().back();
        EXPECT_NE(closing["status"][0].value("detail", "").find("1 file(s) not synced: caf"), std::string::npos)
            << closing.dump();
    }
    EXPECT_EQ(occurrences(test::readFile(home.logFile()), "Not syncing caf"), 2u);
    EXPECT_EQ(test::readFile(folder / "ok.txt"), "fine");
}

}  // namespace
}  // namespace brindle
