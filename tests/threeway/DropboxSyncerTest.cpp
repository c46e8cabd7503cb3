#include <fcntl.h>
#include <sys/stat.h>

#include "common/ConflictName.h"
#include "common/DropboxHash.h"
#include "threeway/SyncerFixture.h"

using namespace brindle;
using namespace brindle::test;
using Call = FakeRemoteStore::Call;

namespace {

void setMtime(const fs::path& file, double seconds) {
    timespec times[2] = {
        {0, UTIME_OMIT},
        {static_cast<time_t>(seconds), static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

double mtimeOf(const fs::path& file) {
    struct stat info {};
    ::lstat(file.c_str(), &info);
    return static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
}

}  // namespace

TEST_F(DropboxSyncerTest, FirstSyncMergesBothSidesAndTheSecondDoesNothing) {
    write("Notes/here.md", "from here");
    store->put("Photos/there.jpg", "from there", 100);
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(store->content("Notes/here.md"), "from here");
    EXPECT_EQ(read("Photos/there.jpg"), "from there");
    // the newest first: the local file was just written, the remote one dates from 1970
    EXPECT_EQ(syncer->events(),
              (std::vector<SyncEvent>{{"uploaded", "Notes/here.md", 9}, {"downloaded", "Photos/there.jpg", 10}}));
    EXPECT_TRUE(syncer->changedLocal());
    EXPECT_EQ(logged("Uploaded Notes/here.md to Dropbox"), 1);
    EXPECT_EQ(logged("Downloaded Photos/there.jpg from Dropbox"), 1);
    EXPECT_EQ(syncer->totals().files, 2);
    EXPECT_EQ(syncer->totals().bytes, 19);
    ASSERT_TRUE(fs::exists(stateFile));

    syncer->takeEvents();
    int uploads = store->calls(Call::upload), downloads = store->calls(Call::download);
    EXPECT_EQ(sync(), "");
    EXPECT_TRUE(syncer->events().empty());
    EXPECT_FALSE(syncer->changedLocal());
    EXPECT_EQ(store->calls(Call::upload), uploads);
    EXPECT_EQ(store->calls(Call::download), downloads);
    EXPECT_EQ(store->calls(Call::listAll), 1);  // the change feed from then on
}

TEST_F(DropboxSyncerTest, EditsAndDeletionsTravelBothWays) {
    write("a.txt", "a1");
    write("deep/down/b.txt", "b1");
    store->put("c.txt", "c1");
    store->put("old/inner/d.txt", "d1");
    ASSERT_EQ(sync(), "");
    syncer->takeEvents();

    write("a.txt", "a2 edited here");
    fs::remove(folder / "deep/down/b.txt");
    store->put("c.txt", "c2 edited there");
    store->erase("old/inner/d.txt");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->content("a.txt"), "a2 edited here");
    EXPECT_FALSE(store->content("deep/down/b.txt"));
    EXPECT_EQ(read("c.txt"), "c2 edited there");
    EXPECT_FALSE(exists("old"));       // folders emptied by a deletion go with the file
    EXPECT_TRUE(exists("deep/down"));  // the user's own empty folders stay
    EXPECT_EQ(eventsOf("deleted"), 2);
    EXPECT_EQ(logged("Deleted deep/down/b.txt from Dropbox"), 1);
    EXPECT_EQ(logged("Deleted old/inner/d.txt (removed from Dropbox)"), 1);
    EXPECT_EQ(syncer->state().base.size(), 2u);
}

TEST_F(DropboxSyncerTest, ConflictKeepsBothVersionsAndUploadsBoth) {
    write("Plans/budget.xlsx", "base");
    ASSERT_EQ(sync(), "");
    syncer->takeEvents();
    write("Plans/budget.xlsx", "ours, longer");
    store->put("Plans/budget.xlsx", "theirs");
    ASSERT_EQ(sync(), "");

    std::string copy =
        "Plans/budget (conflict from Dropbox " + ConflictName::stamp(static_cast<time_t>(now())) + ").xlsx";
    EXPECT_EQ(read("Plans/budget.xlsx"), "ours, longer");
    EXPECT_EQ(read(copy), "theirs");
    // the pass after the conflict uploaded ours over theirs and the copy as a new file
    EXPECT_EQ(store->content("Plans/budget.xlsx"), "ours, longer");
    EXPECT_EQ(store->content(copy), "theirs");
    EXPECT_EQ(eventsOf("conflict"), 1);
    EXPECT_EQ(syncer->events()[0], (SyncEvent{"conflict", "Plans/budget.xlsx", 6}));
    EXPECT_EQ(logged("Conflict on Plans/budget.xlsx: kept both, the Dropbox version is saved as " + copy), 1);
    // dated 2 s back so the next scan does not take it for busy
    EXPECT_NEAR(mtimeOf(folder / copy), now() - 2, 1.0);
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(syncer->events().size(), 3u);  // conflict and two uploads; nothing more happened
}

TEST_F(DropboxSyncerTest, ConflictsThatKeepComingStopAfterThreePasses) {
    // given another device that edits both copies of a.txt at every listing
    write("a.txt", "base");
    ASSERT_EQ(sync(), "");
    int round = 0;
    store->onCall([&](Call call, const std::string&) {
        if (call != Call::listChanges) return;
        ++round;
        writeFile(folder / "a.txt", "local edit " + std::to_string(round));
        store->put("a.txt", "remote edit number " + std::to_string(round));
    });
    write("a.txt", "first local edit");
    std::string error = sync();
    EXPECT_NE(error.find("3 file(s) could not be synced; will retry. First: a.txt: it did not settle"),
              std::string::npos)
        << error;
    EXPECT_EQ(eventsOf("conflict"), 9);  // three starts in each of three passes, no fourth pass
}

TEST_F(DropboxSyncerTest, BusyFileWaitsUntilItHasSettledButAFutureTimeIsNotBusy) {
    write("typing.md", "half a sentence");
    setMtime(folder / "typing.md", now() - 0.5);
    write("from-camera.jpg", "pixels");  // a skewed clock must not hold a file forever
    setMtime(folder / "from-camera.jpg", now() + 86400);
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents(), (std::map<std::string, std::string>{{"from-camera.jpg", "pixels"}}));
    ahead += 2;
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->content("typing.md"), "half a sentence");
}

TEST_F(DropboxSyncerTest, NamesDifferingOnlyByCaseSyncOneAndReportTheOtherEachSync) {
    write("README.md", "upper");
    write("Readme.md", "mixed");
    ASSERT_EQ(sync(), "");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents(), (std::map<std::string, std::string>{{"README.md", "upper"}}));
    EXPECT_EQ(logged("Not syncing Readme.md: its name differs from README.md only by letter case, which Dropbox "
                     "treats as the same file"),
              2);
}

TEST_F(DropboxSyncerTest, ProgressCountsDownBatchByBatch) {
    for (int i = 0; i < 40; ++i) write("f" + std::to_string(i) + ".txt", "x");
    std::vector<int> left;
    syncer->setProgress([&](int n) { left.push_back(n); });
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(left, (std::vector<int>{24, 8, 0}));
    EXPECT_EQ(store->contents().size(), 40u);
}

TEST_F(DropboxSyncerTest, ParallelWorkersTransferEverything) {
    syncer = makeSyncer(store, "Dropbox", std::nullopt, 6);
    for (int i = 0; i < 50; ++i) store->put("in/" + std::to_string(i), std::string(i, 'd'), i);
    for (int i = 0; i < 50; ++i) write("out/" + std::to_string(i), std::string(i, 'u'));
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(filesUnder(folder).size(), 100u);
    EXPECT_EQ(store->contents().size(), 100u);
    EXPECT_EQ(syncer->events().size(), 100u);
}

TEST_F(DropboxSyncerTest, InterruptedDownloadLeavesNoTemporaryFile) {
    store->put("big.bin", "the whole content");
    store->failDownloadMidway("big.bin", "connection reset");
    EXPECT_EQ(sync(), "1 file(s) could not be synced; will retry. First: big.bin: connection reset");
    EXPECT_EQ(filesUnder(folder), std::vector<std::string>{});
    EXPECT_EQ(syncer->errors(), std::vector<std::string>{"big.bin: connection reset"});
}

TEST_F(DropboxSyncerTest, DownloadNotMatchingItsHashIsNotSaved) {
    store->put("a.txt", "listed content");
    store->serveContent("a.txt", "something else");
    EXPECT_EQ(sync(),
              "1 file(s) could not be synced; will retry. First: a.txt: a.txt changed while it was "
              "downloading; will retry");
    EXPECT_EQ(filesUnder(folder), std::vector<std::string>{});
}

TEST_F(DropboxSyncerTest, UploadStoredWithAnotherHashIsAnErrorAndRetried) {
    write("a.txt", "local");
    store->reportHashAfterUpload("a.txt", std::string(64, '0'));
    EXPECT_EQ(sync(),
              "1 file(s) could not be synced; will retry. First: a.txt: a.txt didn't arrive intact; will retry");
    EXPECT_FALSE(syncer->state().base.count("a.txt"));

    store->reportHashAfterUpload("a.txt", DropboxHash::ofBytes("local"));
    store->put("a.txt", "local");  // the store now holds it intact
    EXPECT_EQ(sync(), "");
    EXPECT_TRUE(syncer->state().base.count("a.txt"));
}

TEST_F(DropboxSyncerTest, StoreFailuresBecomeErrorLinesAndTheRestSyncs) {
    write("ok.txt", "fine");
    write("refused.txt", "nope");
    store->fail(Call::upload, "too_many_write_operations", -1, "refused.txt");
    EXPECT_EQ(sync(), "1 file(s) could not be synced; will retry. First: refused.txt: too_many_write_operations");
    EXPECT_EQ(store->content("ok.txt"), "fine");

    store->fail(Call::listAll, "service unavailable");
    fs::remove(stateFile);
    EXPECT_EQ(sync(), "service unavailable");
}

TEST_F(DropboxSyncerTest, LocalEditDuringADownloadIsNeverOverwritten) {
    write("a.txt", "v1");
    ASSERT_EQ(sync(), "");
    store->put("a.txt", "v2 from elsewhere");
    store->onCall([&](Call call, const std::string& path) {
        if (call == Call::download && path == "a.txt" && read("a.txt") == "v1") write("a.txt", "v3 typed meanwhile");
    });
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(read("a.txt"), "v3 typed meanwhile");
    EXPECT_EQ(store->content("a.txt"), "v3 typed meanwhile");
    EXPECT_EQ(eventsOf("conflict"), 1);  // decided again: both sides had changed
}

TEST_F(DropboxSyncerTest, HostilePathsNeverLeaveTheFolder) {
    fs::create_directories(dir / "outside");
    fs::create_symlink(dir / "outside", folder / "link");
    store->listRaw("../escape.txt", "../escape.txt", "x");
    store->listRaw("etc/passwd", "/etc/passwd-brindle-test", "x");
    store->listRaw("a/../../b", "a/../../b", "x");
    store->listRaw(std::string("nul\0/x", 6), std::string("nul\0/../x", 9), "x");
    store->listRaw("link/evil", "link/evil", "x");
    store->listRaw("..\\back", "..\\back", "stays inside");
    std::string error = sync();
    EXPECT_NE(error.find("5 file(s) could not be synced"), std::string::npos) << error;
    EXPECT_EQ(logged("Downloaded"), 1);
    EXPECT_EQ(read("..\\back"), "stays inside");  // a plain name on this system
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir / "b"));
    EXPECT_FALSE(fs::exists("/etc/passwd-brindle-test"));
    for (const auto& line : syncer->errors())
        EXPECT_NE(line.find("Refusing a path outside the folder: "), std::string::npos) << line;
}

TEST_F(DropboxSyncerTest, VanishedFolderIsRestoredNotDeletedRemotely) {
    for (auto name : {"a", "b", "c"}) write(name, name);
    ASSERT_EQ(sync(), "");
    fs::remove_all(folder);
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents().size(), 3u);
    EXPECT_EQ(read("b"), "b");
    EXPECT_EQ(logged("Created folder " + folder.string()), 1);

    // an emptied folder with more than two bases is taken as unmounted, too
    for (auto name : {"a", "b", "c"}) fs::remove(folder / name);
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents().size(), 3u);
    EXPECT_EQ(filesUnder(folder).size(), 3u);
}

TEST_F(DropboxSyncerTest, TwoBasesAreFewEnoughToDeleteRemotely) {
    for (auto name : {"a", "b"}) write(name, name);
    ASSERT_EQ(sync(), "");
    for (auto name : {"a", "b"}) fs::remove(folder / name);
    ASSERT_EQ(sync(), "");
    EXPECT_TRUE(store->contents().empty());
}

TEST_F(DropboxSyncerTest, EmptiedStoreGetsEverythingBackAndNothingDeletedHere) {
    for (auto name : {"a", "b", "c"}) write(name, name);
    ASSERT_EQ(sync(), "");
    for (auto name : {"a", "b", "c"}) store->erase(name);
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(filesUnder(folder).size(), 3u);
    EXPECT_EQ(store->contents().size(), 3u);
}

TEST_F(DropboxSyncerTest, AnotherAccountMergesWithoutDeleting) {
    for (auto name : {"a", "b", "c"}) write(name, name);
    ASSERT_EQ(sync(), "");
    fs::remove(folder / "a");
    store->setAccount("account-2");
    store->put("d", "d");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(logged("Dropbox changed (account-1 -> account-2); starting over without deleting anything"), 1);
    EXPECT_TRUE(store->content("a"));  // not deleted: no base after the change
    EXPECT_EQ(read("a"), "a");
    EXPECT_EQ(read("d"), "d");
}

TEST_F(DropboxSyncerTest, StateFileProblemsAndCursorResetsStartOverQuietly) {
    write("a", "a");
    writeFile(stateFile, R"({"account":"","remote":{},"base":{}})");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(logged("changed ("), 0);  // a fresh state has no account to complain about

    writeFile(stateFile, "{not json");
    ASSERT_EQ(sync(), "");
    EXPECT_TRUE(SyncState::load(stateFile));  // replaced after the pass

    auto state = *SyncState::load(stateFile);
    state.cursor.reset();
    writeFile(stateFile, state.encode());
    int listings = store->calls(Call::listAll);
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->calls(Call::listAll), listings + 1);
    store->resetCursor();  // a store that resets its change feed is listed whole again
    store->put("b", "b");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->calls(Call::listAll), listings + 2);
    EXPECT_EQ(read("b"), "b");
}

TEST_F(DropboxSyncerTest, AtMostTwoHundredEventsAreHeld) {
    for (int i = 0; i < 201; ++i) store->put("f" + std::to_string(i), "x");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(syncer->events().size(), kMaxHeldEvents);
    EXPECT_EQ(filesUnder(folder).size(), 201u);
    EXPECT_EQ(logged("Downloaded"), 201);
}

TEST_F(DropboxSyncerTest, OversizedFilesAreSkippedButNotDeletedRemotely) {
    syncer = makeSyncer(store, "Dropbox", 1048576);
    write("movie.mov", "small for now");
    ASSERT_EQ(sync(), "");
    write("movie.mov", std::string(1048577, 'm'));
    ASSERT_EQ(sync(), "");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(syncer->skippedFiles(), std::vector<std::string>{"movie.mov"});
    EXPECT_EQ(logged("Skipping files over 1 MB: movie.mov"), 1);
    EXPECT_EQ(store->content("movie.mov"), "small for now");  // the store keeps its copy
}

TEST_F(DropboxSyncerTest, IgnoredNamesAndOurTemporaryFilesStayPut) {
    write(".DS_Store", "x");
    write("draft.md~", "x");
    write(".Trash-1000/old.txt", "x");
    write(".brindle-tmp-123456789abc", "left by a killed pass");
    store->put("Thumbs/.DS_Store", "x");
    ASSERT_EQ(sync(), "");
    EXPECT_TRUE(store->contents().size() == 1u);
    EXPECT_FALSE(exists("Thumbs/.DS_Store"));
    EXPECT_TRUE(exists(".DS_Store"));
    // no other pass can own it while this one holds the pass lock
    EXPECT_FALSE(exists(".brindle-tmp-123456789abc"));
}

TEST_F(DropboxSyncerTest, SameSizeEditRightAfterADownloadIsSeen) {
    // an edit within the same tick of the file system's clock as the download
    // would keep size and time, were the download not dated away from now
    store->put("a.txt", "from there");
    ASSERT_EQ(sync(), "");
    double recorded = static_cast<double>(syncer->state().base.at("a.txt").mtimeNs) / 1e9;
    EXPECT_NEAR(recorded, now() - 2, 1.0);  // dated 2 s before the syncer's clock
    write("a.txt", "from here!");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->content("a.txt"), "from here!");
}
