#include "threeway/DropboxSyncer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "common/ConflictName.h"
#include "support/Expect.h"
#include "support/FakeRemoteStore.h"
#include "support/Unprivileged.h"
#include "threeway/DropboxFailure.h"
#include "threeway/TreeWalk.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;
using Call = FakeRemoteStore::Call;

double realNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Its clock runs `ahead` of the real one so that files just written are not busy.
class DropboxSyncerTest : public ::testing::Test {
protected:
    IsolatedHome home;  // deletions go to its Trash
    TempDir dir;
    fs::path folder = dir / "Larder", stateFile = dir / "state/dropbox.json";
    std::shared_ptr<FakeRemoteStore> store = std::make_shared<FakeRemoteStore>();
    double ahead = 10;
    std::unique_ptr<DropboxSyncer> syncer = makeSyncer();

    std::unique_ptr<DropboxSyncer> makeSyncer(std::optional<int64_t> maxSize = std::nullopt, int workers = 1) {
        fs::create_directories(folder);
        auto made = std::make_unique<DropboxSyncer>(folder, stateFile, store, "Dropbox", maxSize, workers);
        made->setClock([this] { return now(); });
        made->setLog([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(logLock_);
            log_ += line + "\n";
        });
        return made;
    }
    double now() const { return realNow() + ahead; }
    void write(const std::string& rel, const std::string& content) { writeFile(folder / rel, content); }
    std::string read(const std::string& rel) const { return readFile(folder / rel); }
    bool exists(const std::string& rel) const { return fs::exists(fs::symlink_status(folder / rel)); }
    // sync()'s error text, "" when it succeeded.
    std::string sync() {
        std::string error = failureText([&] { syncer->sync(); });
        return error == "(nothing thrown)" ? "" : error;
    }
    size_t logged(const std::string& part) { return std::lock_guard(logLock_), occurrences(log_, part); }
    long eventsOf(const std::string& kind) { return std::ranges::count(syncer->events(), kind, &SyncEvent::kind); }
    std::vector<std::string> conflictCopies() {
        auto copies = pathsIn(folder);
        return std::erase_if(copies, [](auto& path) { return path.find("(conflict from") == std::string::npos; }),
               copies;
    }
    double baseTime(const std::string& key) { return static_cast<double>(syncer->state().base.at(key).mtimeNs) / 1e9; }

private:
    std::mutex logLock_;
    std::string log_;
};

void setMtime(const fs::path& file, double seconds) {
    auto whole = static_cast<time_t>(seconds);
    timespec times[2] = {{0, UTIME_OMIT}, {whole, static_cast<long>((seconds - static_cast<double>(whole)) * 1e9)}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}
TEST_F(DropboxSyncerTest, FirstSyncMergesBothSidesAndTheSecondDoesNothing) {
    write("Notes/here.md", "from here");
    store->put("Photos/there.jpg", "from there", 100);
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(*store->content("Notes/here.md") + "|" + read("Photos/there.jpg"), "from here|from there");
    // the newest first: the local file was just written, the remote one dates from 1970
    EXPECT_EQ(syncer->events(),
              (std::vector<SyncEvent>{{"uploaded", "Notes/here.md", 9}, {"downloaded", "Photos/there.jpg", 10}}));
    EXPECT_TRUE(syncer->changedLocal());
    EXPECT_EQ(logged("Uploaded Notes/here.md to Dropbox") + logged("Downloaded Photos/there.jpg from Dropbox"), 2u);
    EXPECT_EQ(std::to_string(syncer->totals().files) + " " + std::to_string(syncer->totals().bytes), "2 19");
    syncer->takeEvents();
    int transfers = store->calls(Call::upload) + store->calls(Call::download);
    EXPECT_EQ(sync(), "");
    EXPECT_TRUE(syncer->events().empty() && !syncer->changedLocal());
    EXPECT_EQ(store->calls(Call::upload) + store->calls(Call::download), transfers);
    EXPECT_EQ(store->calls(Call::listAll), 1);  // the change feed from then on
    // downloads are dated 2 s back, so an edit within the same tick that keeps the size is seen
    EXPECT_NEAR(baseTime("photos/there.jpg"), now() - 2, 1.0);
    write("Photos/there.jpg", "from here!");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->content("Photos/there.jpg"), "from here!");
}
TEST_F(DropboxSyncerTest, NewFilesOfOneSizeAndTimeEachGetTheirOwnHash) {
    // Many new files are hashed on two threads; each hash must reach its own file.
    const double then = now() - 100;
    for (int i = 0; i < 40; ++i) {
        std::string rel = "batch/f" + std::to_string(i) + ".txt";
        write(rel, "content " + std::to_string(100 + i));
        setMtime(folder / rel, then);
    }
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents(), filesIn(folder));
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(store->calls(Call::upload), 40);
}
TEST_F(DropboxSyncerTest, EditsAndDeletionsTravelBothWaysIntoTheFoldersAsTheyAreCased) {
    for (auto [path, content] : Tree{{"a.txt", "a1"}, {"deep/down/b.txt", "b1"}, {"notes/x.md", "v1"}})
        write(path, content);  // the folder's "notes/" holds what the store calls "Notes/"
    for (auto [path, content] : Tree{{"Notes/x.md", "v1"}, {"c.txt", "c1"}, {"old/inner/d.txt", "d1"}})
        store->put(path, content);
    ASSERT_EQ(sync(), "");
    write("a.txt", "a2 edited here");
    fs::remove(folder / "deep/down/b.txt");
    store->put("c.txt", "c2 edited there");
    store->erase("old/inner/d.txt");
    store->put("Notes/x.md", "v2");
    store->put("NOTES/Deeper/z.md", "deeper");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(filesIn(folder), (Tree{{"a.txt", "a2 edited here"},
                                     {"c.txt", "c2 edited there"},
                                     {"notes/Deeper/z.md", "deeper"},
                                     {"notes/x.md", "v2"}}));
    EXPECT_EQ(store->contents().size(), 4u);
    EXPECT_EQ(store->content("a.txt"), "a2 edited here");
    EXPECT_EQ(filesIn(home.path() / ".local/share/Trash/files"), (Tree{{"d.txt", "d1"}}));
    EXPECT_TRUE(!exists("old") && exists("deep/down"));  // folders a deletion empties go, the user's own stay
    EXPECT_EQ(logged("Deleted deep/down/b.txt from Dropbox") + logged("Deleted old/inner/d.txt (removed from Dropbox)"),
              2u);
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
    EXPECT_NEAR(baseTime(pathKey(copy)), now() - 2, 1.0);  // dated back: not busy at the next scan
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
// A store that can only list everything, as a drive can.
class ListsEverything : public FakeRemoteStore {
public:
    RemoteListing listChanges(const std::string&) override { throw DropboxFailure::reset(); }
    bool listsChanges() const override { return false; }
};

TEST_F(DropboxSyncerTest, ARoundThatRanAllItsActionsIsConfirmedWithoutListingBothSidesAgain) {
    store = std::make_shared<ListsEverything>();
    syncer = makeSyncer();
    write("a.txt", "a");
    store->put("b.txt", "b");
    // Written while the pass works: left for the next pass, never lost.
    store->onCall([&](Call call, const std::string&) {
        if (call == Call::upload && !exists("late.txt")) write("late.txt", "late");
    });
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->calls(Call::listAll), 1);
    EXPECT_EQ(read("b.txt") + *store->content("a.txt"), "ba");
    EXPECT_FALSE(store->content("late.txt"));
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->content("late.txt"), "late");
    EXPECT_EQ(store->calls(Call::listAll), 2);
}

TEST_F(DropboxSyncerTest, ARoundIsConfirmedOnTheKeysItTouchedAndTheKeysTheStoreListsAsChanged) {
    write("a.txt", "a");
    write("b.txt", "b");
    ASSERT_EQ(sync(), "");
    write("a.txt", "edited");
    // Another computer adds a file while this one uploads.
    store->onCall([&](Call call, const std::string&) {
        if (call == Call::upload && !store->content("late.txt")) store->put("late.txt", "late");
    });
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(read("late.txt") + *store->content("a.txt"), "lateedited");
}

TEST_F(DropboxSyncerTest, ParallelWorkersTransferEverythingAndHoldAtMostTwoHundredEvents) {
    syncer = makeSyncer(std::nullopt, 6);
    for (int i = 0; i < 150; ++i) store->put("in/" + std::to_string(i), std::string(i, 'd'), i);
    for (int i = 0; i < 60; ++i) write("out/" + std::to_string(i), std::string(i, 'u'));
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents().size() + filesIn(folder).size(), 420u);
    EXPECT_EQ(store->contents(), filesIn(folder));
    EXPECT_EQ(std::pair(syncer->events().size(), logged("Downloaded")), std::pair(kMaxHeldEvents, size_t{150}));
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
    EXPECT_EQ(read("a.txt") + "|" + *store->content("a.txt"), "v3 typed meanwhile|v3 typed meanwhile");
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
    EXPECT_FALSE(fs::exists(dir / "escape.txt") || fs::exists(dir / "b") || fs::exists("/etc/passwd-brindle-test"));
    for (const auto& line : syncer->errors()) EXPECT_THAT(line, HasSubstr("Refusing a path outside the folder: "));
}
TEST_F(DropboxSyncerTest, VanishedOrEmptiedSidesAreRestoredButTwoBasesAreFewEnoughToDelete) {
    for (auto name : {"a", "b", "c"}) write(name, name);
    ASSERT_EQ(sync(), "");
    for (auto name : {"a", "b", "c"}) store->erase(name);  // an emptied store gets everything back
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents(), filesIn(folder));
    fs::remove_all(folder);
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(logged("Created folder " + folder.string()) + filesIn(folder).size(), 4u);
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
TEST_F(DropboxSyncerTest, AnotherOrAnUnnamedAccountMergesWithoutDeleting) {
    for (std::string account : {"account-1", ""}) {  // "": a store that never says whose it is
        store = std::make_shared<FakeRemoteStore>(account);
        syncer = makeSyncer();
        for (auto name : {"a", "b", "c", "d"}) write(name, name);
        ASSERT_EQ(sync(), "");
        fs::remove(folder / "a");
        store = std::make_shared<FakeRemoteStore>(account.empty() ? "" : "account-2");
        for (auto name : {"a", "b", "e"}) store->put(name, name);
        syncer = makeSyncer();
        ASSERT_EQ(sync(), "");
        EXPECT_EQ(pathsIn(folder), (std::vector<std::string>{"a", "b", "c", "d", "e"})) << account;
        EXPECT_EQ(store->contents(), filesIn(folder));
        fs::remove_all(folder);
        fs::remove(stateFile);
    }
    EXPECT_EQ(logged("Dropbox changed (account-1 -> account-2); starting over without deleting anything"), 1u);
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
// A store whose full listing comes in reverse key order, may end with more
// entries, and may break off after handing on some of it.
class ReversedListing : public FakeRemoteStore {
public:
    std::vector<RemoteEntry> appended;
    int failAfter = -1;  // entries handed on before the listing breaks off
    std::string streamAll(const std::function<void(RemoteEntry&)>& each, Unsyncable& unsyncable) override {
        RemoteListing listing = listAll();
        std::reverse(listing.entries.begin(), listing.entries.end());
        listing.entries.insert(listing.entries.end(), appended.begin(), appended.end());
        for (int handed = 0; RemoteEntry & entry : listing.entries) {
            if (handed++ == failAfter) throw DropboxFailure::message("connection reset");
            each(entry);
        }
        unsyncable = listing.unsyncable;
        return listing.cursor;
    }
};

TEST_F(DropboxSyncerTest, AFullListingOutOfOrderIsMergedExactlyAndOneThatBreaksOffLosesNothing) {
    auto reversed = std::make_shared<ReversedListing>();
    store = reversed;
    syncer = makeSyncer();
    for (const char* name : {"a.txt", "b/c.txt", "b/d.txt", "e.txt"}) write(name, name);
    ASSERT_EQ(sync(), "");
    // Broken off after the first entry: the records it had not named yet are
    // still there, so nothing looks deleted in the store.
    reversed->failAfter = 1;
    store->resetCursor();
    EXPECT_THAT(sync(), HasSubstr("connection reset"));
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(pathsIn(folder), (std::vector<std::string>{"a.txt", "b/c.txt", "b/d.txt", "e.txt"}));

    reversed->failAfter = -1;
    reversed->appended = {RemoteEntry{true, "b", std::nullopt}, RemoteEntry{false, "b/d.txt", RemoteFile{}}};
    reversed->appended[1].file = RemoteFile{"b/d.txt", DropboxHash::ofBytes("b/d.txt"), "", 7, 0};
    store->put("a.txt", "edited there");
    store->erase("e.txt");
    store->resetCursor();
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(pathsIn(folder), (std::vector<std::string>{"a.txt", "b/d.txt"}));
    EXPECT_EQ(read("a.txt"), "edited there");
}
TEST_F(DropboxSyncerTest, FewChangesAreAppendedAndAStateAnotherProcessSavedIsReadAgain) {
    for (int i = 0; i < 40; ++i) write("f" + std::to_string(i), "file " + std::to_string(i));
    ASSERT_EQ(sync(), "");
    std::string whole = readFile(stateFile);
    // Another process downloads an edit made in the store, then the file is edited here.
    store->put("f1", "edited there", now());
    auto other = makeSyncer();
    ASSERT_EQ(failureText([&] { other->sync(); }), "(nothing thrown)");
    EXPECT_EQ(readFile(stateFile), whole);  // two records changed: appended, not written whole
    write("f1", "edited here after that");
    ASSERT_EQ(sync(), "");
    // With the state it held in memory this syncer would see two edits and keep both.
    EXPECT_EQ(conflictCopies(), std::vector<std::string>{});
    EXPECT_EQ(*store->content("f1"), "edited here after that");
    EXPECT_EQ(SyncState::load(stateFile), syncer->state());
}
TEST_F(DropboxSyncerTest, LitterIgnoredNamesOversizedAndOurTemporaryFilesStayPut) {
    syncer = makeSyncer(1048576);
    write("notes.md", "mine");
    write("movie.mov", "small for now");
    for (auto name : {"notes.md.swp", "notes.md~", ".#notes.md", ".nfs0000000001a2b3c4", ".goutputstream-QX81ZZ",
                      ".directory", "sub/.#plan.md", ".DS_Store", ".Trash-1000/old.txt"})
        write(name, "litter");
    write(".brindle-tmp-123456789abc", "left by a killed pass");
    store->put(".#theirs.md", "litter from elsewhere");
    store->put("Thumbs/.DS_Store", "x");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents().size(), 4u);
    EXPECT_TRUE(exists(".DS_Store"));  // no other pass can own our temporary file while this one holds the lock
    EXPECT_FALSE(exists(".#theirs.md") || exists("Thumbs/.DS_Store") || exists(".brindle-tmp-123456789abc"));
    write("movie.mov", std::string(1048577, 'm'));
    ASSERT_EQ(sync(), "");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(syncer->skippedFiles(), std::vector<std::string>{"movie.mov"});
    EXPECT_EQ(logged("Skipping files over 1 MB: movie.mov"), 1u);
    EXPECT_EQ(store->content("movie.mov"), "small for now");  // not deleted remotely
}

using SafetyTest = DropboxSyncerTest;

TEST_F(SafetyTest, PassWaitsWhileAnotherProcessSyncsTheFolder) {
    fs::create_directories(stateFile.parent_path());
    int held = ::open((stateFile.parent_path() / DropboxSyncer::kPassLockName).c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    write("a.md", "here");
    std::thread pass([this] { EXPECT_EQ(sync(), ""); });
    while (logged("Waiting for another sync of this folder to finish") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(store->contents().empty());  // nothing done while it waits
    ::close(held);
    pass.join();
    EXPECT_EQ(store->content("a.md"), "here");
}
TEST_F(SafetyTest, ConflictsAreRecordedAsSoonAsTheirCopiesExist) {
    write("a.md", "ours");
    store->put("a.md", "theirs");
    store->onCall([this](Call call, const std::string&) {  // the upload after the conflict finds it on disk
        auto saved = SyncState::load(stateFile);
        if (call == Call::upload) EXPECT_TRUE(saved && saved->base.count("a.md"));
    });
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->calls(Call::upload), 2);
}
TEST_F(SafetyTest, InterruptedConflictKeepsItsOneCopy) {
    // a pass killed after it saved the conflict copies, before its state reached the disk
    Tree ours{{"a.md", "ours"}, {"sub/b.txt", "ours too"}}, theirs{{"a.md", "theirs"}, {"sub/b.txt", "theirs too"}};
    for (const auto& [path, content] : ours) write(path, content);
    for (const auto& [path, content] : theirs) store->put(path, content);
    store->fail(Call::upload, "offline");
    EXPECT_NE(sync(), "");
    ASSERT_EQ(conflictCopies().size(), 2u);
    fs::remove(stateFile);
    ahead += 600;  // a later minute gives a new stamp
    store = std::make_shared<FakeRemoteStore>();
    for (const auto& [path, content] : theirs) store->put(path, content);
    syncer = makeSyncer();
    ASSERT_EQ(sync(), "");
    auto copies = conflictCopies();
    ASSERT_EQ(copies.size(), 2u) << copies.back();
    EXPECT_EQ(read(copies[0]) + read(copies[1]), "theirstheirs too");
    EXPECT_EQ(store->content("a.md"), "ours");
    EXPECT_EQ(store->contents().size(), 4u);
}
TEST_F(SafetyTest, WithoutAUsableTrashTheDeletionHappensAndIsLogged) {
    fs::create_directories(home.path() / ".local/share");  // a Trash that is a link, which none may pass
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", home.path() / ".local/share/Trash");
    for (auto name : {"a.md", "b.md", "c.md"}) write(name, name);
    ASSERT_EQ(sync(), "");
    store->erase("a.md");
    ASSERT_EQ(sync(), "");
    EXPECT_FALSE(exists("a.md"));
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_EQ(logged("Couldn't move a.md to the Trash ("), 1u);
}
TEST_F(SafetyTest, FilesThatCannotBeSyncedAreNamedOnEveryPass) {
    write("Plan.md", "one");
    write("plan.md", "two");
    write(std::string("caf\xe9.txt"), "latin-1 name");
    for (size_t pass = 1; pass <= 2; ++pass) {
        ASSERT_EQ(sync(), "");
        EXPECT_EQ(
            syncer->unsyncableFiles(),
            (std::vector<std::string>{
                "caf\xef\xbf\xbd.txt: its name is not valid UTF-8",
                "plan.md: its name differs from Plan.md only by letter case, which Dropbox treats as the same file"}));
        EXPECT_EQ(logged("Not syncing plan.md: its name differs from Plan.md"), pass);
    }
    EXPECT_EQ(store->contents(), (Tree{{"Plan.md", "one"}}));
}

// A folder that can be read but not searched, walked without root: unreadable or a throw, never empty.
TEST(UnsearchableFolderTest, NeverLooksEmpty) {
    for (std::string locked : {"sub", ""}) {
        TempDir dir;
        fs::path root = dir / "Larder";
        writeFile(root / "sub/note.md", "x");
        writeFile(root / "top.md", "x");
        fs::permissions(dir.path(), fs::perms::all);
        fs::permissions(root / locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        int outcome = asUnprivileged([&] {
            try {
                auto unreadable = TreeWalk::walk(root, realNow(), 600).unreadable;
                return unreadable.size() == 1 && unreadable[0].path == locked && unreadable[0].error == EACCES ? 0 : 2;
            } catch (const std::exception& error) {
                return std::string(error.what()).find("Permission denied") != std::string::npos ? 1 : 3;
            }
        });
        EXPECT_EQ(outcome, locked.empty() ? 1 : 0) << locked;
    }
}

}  // namespace
}  // namespace brindle::test
