#include <fcntl.h>
#include <sys/stat.h>

#include "common/ConflictName.h"
#include "common/DropboxHash.h"
#include "threeway/SyncerFixture.h"

using namespace brindle;
using namespace brindle::test;

namespace {

void setMtime(const fs::path& file, double seconds) {
    auto whole = static_cast<time_t>(seconds);
    timespec times[2] = {{0, UTIME_OMIT}, {whole, static_cast<long>((seconds - static_cast<double>(whole)) * 1e9)}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
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
    EXPECT_EQ(logged("Uploaded Notes/here.md to Dropbox") + logged("Downloaded Photos/there.jpg from Dropbox"), 2u);
    EXPECT_EQ(syncer->totals().files, 2);
    EXPECT_EQ(syncer->totals().bytes, 19);

    syncer->takeEvents();
    int transfers = store->calls(Call::upload) + store->calls(Call::download);
    EXPECT_EQ(sync(), "");
    EXPECT_TRUE(syncer->events().empty());
    EXPECT_FALSE(syncer->changedLocal());
    EXPECT_EQ(store->calls(Call::upload) + store->calls(Call::download), transfers);
    EXPECT_EQ(store->calls(Call::listAll), 1);  // the change feed from then on
}

TEST_F(DropboxSyncerTest, EditsAndDeletionsTravelBothWays) {
    write("a.txt", "a1");
    write("deep/down/b.txt", "b1");
    store->put("c.txt", "c1");
    store->put("old/inner/d.txt", "d1");
    ASSERT_EQ(sync(), "");
    write("a.txt", "a2 edited here");
    fs::remove(folder / "deep/down/b.txt");
    store->put("c.txt", "c2 edited there");
    store->erase("old/inner/d.txt");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents(), (Tree{{"a.txt", "a2 edited here"}, {"c.txt", "c2 edited there"}}));
    EXPECT_EQ(filesIn(folder), store->contents());
    EXPECT_FALSE(exists("old"));       // folders emptied by a deletion go with the file
    EXPECT_TRUE(exists("deep/down"));  // the user's own empty folders stay
    EXPECT_EQ(logged("Deleted deep/down/b.txt from Dropbox") + logged("Deleted old/inner/d.txt (removed from Dropbox)"),
              2u);
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
    EXPECT_EQ(filesIn(folder), (Tree{{"Plans/budget.xlsx", "ours, longer"}, {copy, "theirs"}}));
    EXPECT_EQ(store->contents(), filesIn(folder));  // ours over theirs, the copy as a new file
    EXPECT_EQ(syncer->events()[0], (SyncEvent{"conflict", "Plans/budget.xlsx", 6}));
    EXPECT_EQ(logged("Conflict on Plans/budget.xlsx: kept both, the Dropbox version is saved as " + copy), 1u);
    // dated 2 s back so the next scan does not take it for busy
    EXPECT_NEAR(static_cast<double>(syncer->state().base.at(pathKey(copy)).mtimeNs) / 1e9, now() - 2, 1.0);
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(syncer->events().size(), 3u);  // conflict and two uploads; nothing more happened
}

TEST_F(DropboxSyncerTest, ConflictsThatKeepComingStopAfterThreePasses) {
    write("a.txt", "base");
    ASSERT_EQ(sync(), "");
    int round = 0;  // another device edits both copies at every listing
    store->onCall([&](Call call, const std::string&) {
        if (call != Call::listChanges) return;
        write("a.txt", "local edit " + std::to_string(++round));
        store->put("a.txt", "remote edit number " + std::to_string(round));
    });
    write("a.txt", "first local edit");
    EXPECT_THAT(sync(), HasSubstr("3 file(s) could not be synced; will retry. First: a.txt: it did not settle"));
    EXPECT_EQ(eventsOf("conflict"), 9);  // three starts in each of three passes, no fourth pass
}

TEST_F(DropboxSyncerTest, BusyFileWaitsUntilItHasSettledButAFutureTimeIsNotBusy) {
    write("typing.md", "half a sentence");
    setMtime(folder / "typing.md", now() - 0.5);
    write("from-camera.jpg", "pixels");  // a skewed clock must not hold a file forever
    setMtime(folder / "from-camera.jpg", now() + 86400);
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents(), (Tree{{"from-camera.jpg", "pixels"}}));
    ahead += 2;
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->content("typing.md"), "half a sentence");
}

TEST_F(DropboxSyncerTest, ProgressCountsDownBatchByBatch) {
    for (int i = 0; i < 40; ++i) write("f" + std::to_string(i) + ".txt", "x");
    std::vector<int> left;
    syncer->setProgress([&](int n) { left.push_back(n); });
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(left, (std::vector<int>{24, 8, 0}));
}

TEST_F(DropboxSyncerTest, ParallelWorkersTransferEverythingAndHoldAtMostTwoHundredEvents) {
    syncer = makeSyncer(std::nullopt, 6);
    for (int i = 0; i < 150; ++i) store->put("in/" + std::to_string(i), std::string(i, 'd'), i);
    for (int i = 0; i < 60; ++i) write("out/" + std::to_string(i), std::string(i, 'u'));
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(filesIn(folder).size(), 210u);
    EXPECT_EQ(store->contents(), filesIn(folder));
    EXPECT_EQ(syncer->events().size(), kMaxHeldEvents);
    EXPECT_EQ(logged("Downloaded"), 150u);
}

TEST_F(DropboxSyncerTest, TransferFaultsAreErrorLinesLeaveNothingBehindAndAreRetried) {
    store->put("cut.bin", "the whole content");
    store->fail(Call::download, "connection reset", -1, "cut.bin", true);
    store->put("swapped.txt", "listed content");
    store->served["swapped.txt"] = "something else";
    write("mangled.txt", "local");
    store->reportedHash["mangled.txt"] = std::string(64, '0');
    write("refused.txt", "nope");
    store->fail(Call::upload, "too_many_write_operations", 1, "refused.txt");
    write("ok.txt", "fine");
    EXPECT_THAT(sync(), StartsWith("4 file(s) could not be synced; will retry. First: "));
    std::vector<std::string> errors = syncer->errors();
    std::sort(errors.begin(), errors.end());
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "cut.bin: connection reset", "mangled.txt: mangled.txt didn't arrive intact; will retry",
                          "refused.txt: too_many_write_operations",
                          "swapped.txt: swapped.txt changed while it was downloading; will retry"}));
    EXPECT_EQ(pathsIn(folder), (std::vector<std::string>{"mangled.txt", "ok.txt", "refused.txt"}));
    EXPECT_EQ(store->content("ok.txt"), "fine");
    EXPECT_FALSE(syncer->state().base.count("mangled.txt"));

    store->reportedHash["mangled.txt"] = DropboxHash::ofBytes("local");
    store->put("mangled.txt", "local");  // the store now holds it intact
    EXPECT_THAT(sync(), HasSubstr("2 file(s) could not be synced"));
    EXPECT_TRUE(syncer->state().base.count("mangled.txt"));
    EXPECT_EQ(store->content("refused.txt"), "nope");

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
    for (std::string path : {"../escape.txt", "a/../../b", "link/evil", "..\\back"}) store->put(path, "x", 0, path);
    store->put("/etc/passwd-brindle-test", "x", 0, "etc/passwd");
    store->put(std::string("nul\0/../x", 9), "x", 0, std::string("nul\0/x", 6));
    EXPECT_THAT(sync(), HasSubstr("5 file(s) could not be synced"));
    EXPECT_EQ(filesIn(folder), (Tree{{"..\\back", "x"}}));  // a plain name on this system
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    EXPECT_FALSE(fs::exists(dir / "escape.txt") || fs::exists(dir / "b"));
    EXPECT_FALSE(fs::exists("/etc/passwd-brindle-test"));
    for (const auto& line : syncer->errors()) EXPECT_THAT(line, HasSubstr("Refusing a path outside the folder: "));
}

TEST_F(DropboxSyncerTest, VanishedOrEmptiedFolderIsRestoredButTwoBasesAreFewEnoughToDelete) {
    for (auto name : {"a", "b", "c"}) write(name, name);
    ASSERT_EQ(sync(), "");
    fs::remove_all(folder);
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(logged("Created folder " + folder.string()), 1u);
    EXPECT_EQ(filesIn(folder).size(), 3u);
    for (auto name : {"a", "b", "c"}) fs::remove(folder / name);  // emptied with more than two bases: unmounted
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(filesIn(folder).size(), 3u);
    EXPECT_EQ(store->contents(), filesIn(folder));

    store->erase("c");
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
    EXPECT_EQ(filesIn(folder).size(), 3u);
    EXPECT_EQ(store->contents(), filesIn(folder));
}

TEST_F(DropboxSyncerTest, AnotherAccountMergesWithoutDeleting) {
    for (auto name : {"a", "b", "c"}) write(name, name);
    ASSERT_EQ(sync(), "");
    fs::remove(folder / "a");
    store->setAccount("account-2");
    store->put("d", "d");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(logged("Dropbox changed (account-1 -> account-2); starting over without deleting anything"), 1u);
    EXPECT_EQ(filesIn(folder).size(), 4u);  // "a" is back: no base after the change
    EXPECT_EQ(store->contents(), filesIn(folder));
}

TEST_F(DropboxSyncerTest, StateFileProblemsAndCursorResetsStartOverQuietly) {
    write("a", "a");
    writeFile(stateFile, R"({"account":"","remote":{},"base":{}})");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(logged("changed ("), 0u);  // a fresh state has no account to complain about
    writeFile(stateFile, "{not json");
    ASSERT_EQ(sync(), "");
    auto state = *SyncState::load(stateFile);  // replaced after the pass
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

TEST_F(DropboxSyncerTest, OversizedFilesAreSkippedButNotDeletedRemotely) {
    syncer = makeSyncer(1048576);
    write("movie.mov", "small for now");
    ASSERT_EQ(sync(), "");
    write("movie.mov", std::string(1048577, 'm'));
    ASSERT_EQ(sync(), "");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(syncer->skippedFiles(), std::vector<std::string>{"movie.mov"});
    EXPECT_EQ(logged("Skipping files over 1 MB: movie.mov"), 1u);
    EXPECT_EQ(store->content("movie.mov"), "small for now");
}

TEST_F(DropboxSyncerTest, LitterIgnoredNamesAndOurTemporaryFilesStayPut) {
    write("notes.md", "mine");
    for (auto name : {"notes.md.swp", "notes.md~", ".#notes.md", ".nfs0000000001a2b3c4", ".goutputstream-QX81ZZ",
                      ".directory", "sub/.#plan.md", ".DS_Store", ".Trash-1000/old.txt"})
        write(name, "litter");
    write(".brindle-tmp-123456789abc", "left by a killed pass");
    store->put(".#theirs.md", "litter from elsewhere");
    store->put("Thumbs/.DS_Store", "x");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents().size(), 3u);
    EXPECT_TRUE(store->content("notes.md"));
    EXPECT_FALSE(exists(".#theirs.md") || exists("Thumbs/.DS_Store"));
    EXPECT_TRUE(exists(".DS_Store"));
    // no other pass can own it while this one holds the pass lock
    EXPECT_FALSE(exists(".brindle-tmp-123456789abc"));
}

TEST_F(DropboxSyncerTest, SameSizeEditRightAfterADownloadIsSeen) {
    // an edit within the same tick of the file system's clock as the download
    // would keep size and time, were the download not dated away from now
    store->put("a.txt", "from there");
    ASSERT_EQ(sync(), "");
    EXPECT_NEAR(static_cast<double>(syncer->state().base.at("a.txt").mtimeNs) / 1e9, now() - 2, 1.0);
    write("a.txt", "from here!");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->content("a.txt"), "from here!");
}
