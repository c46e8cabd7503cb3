#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

#include "support/Unprivileged.h"
#include "threeway/SyncerFixture.h"
#include "threeway/TreeWalk.h"

using namespace brindle;
using namespace brindle::test;

namespace {

// The reconciler where a pass is interrupted, runs beside another process's
// pass, or meets a folder it can only partly read.
class SafetyTest : public DropboxSyncerTest {
protected:
    std::vector<std::string> conflictCopies() {
        std::vector<std::string> copies;
        for (const auto& file : filesUnder(folder))
            if (file.find("(conflict from") != std::string::npos) copies.push_back(file);
        return copies;
    }
};

TEST_F(SafetyTest, PassWaitsWhileAnotherProcessSyncsTheFolder) {
    // given another process's pass holding the lock beside the state files
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

TEST_F(SafetyTest, InterruptedConflictKeepsItsOneCopy) {
    // given a pass killed after it saved the conflict copy but before its
    // state reached the disk
    write("a.md", "ours");
    write("sub/b.txt", "ours too");
    store->put("a.md", "theirs");
    store->put("sub/b.txt", "theirs too");
    store->fail(FakeRemoteStore::Call::upload, "offline");
    EXPECT_NE(sync(), "");
    ASSERT_EQ(conflictCopies().size(), 2u);
    fs::remove(stateFile);
    ahead += 600;  // a later minute gives a new stamp

    store = std::make_shared<FakeRemoteStore>();
    store->put("a.md", "theirs");
    store->put("sub/b.txt", "theirs too");
    syncer = makeSyncer(store);
    ASSERT_EQ(sync(), "");
    auto copies = conflictCopies();
    ASSERT_EQ(copies.size(), 2u) << copies.back();
    EXPECT_EQ(read(copies[0]), "theirs");
    EXPECT_EQ(read(copies[1]), "theirs too");
    EXPECT_EQ(store->content("a.md"), "ours");
    EXPECT_EQ(store->contents().size(), 4u);
}

TEST_F(SafetyTest, ConflictsAreRecordedAsSoonAsTheirCopiesExist) {
    write("a.md", "ours");
    store->put("a.md", "theirs");
    // the upload that follows the conflict finds the state already on disk
    store->onCall([this](FakeRemoteStore::Call call, const std::string&) {
        if (call != FakeRemoteStore::Call::upload) return;
        auto saved = SyncState::load(stateFile);
        EXPECT_TRUE(saved && saved->base.count("a.md"));
    });
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->calls(FakeRemoteStore::Call::upload), 2);
}

TEST_F(SafetyTest, EditorAndDesktopLitterStaysHere) {
    write("notes.md", "mine");
    for (auto name : {"notes.md.swp", "notes.md~", ".#notes.md", ".nfs0000000001a2b3c4", ".goutputstream-QX81ZZ",
                      ".directory", "sub/.#plan.md"})
        write(name, "litter");
    store->put(".#theirs.md", "litter from elsewhere");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(store->contents().size(), 2u);  // notes.md and the one it already had
    EXPECT_FALSE(exists(".#theirs.md"));
}

TEST_F(SafetyTest, StoreEditsArriveInTheFolderAsItIsCased) {
    // given the folder's "notes/" holding what the store calls "Notes/"
    write("notes/x.md", "v1");
    store->put("Notes/x.md", "v1");
    ASSERT_EQ(sync(), "");
    store->put("Notes/x.md", "v2");
    store->put("Notes/y.md", "new");
    store->put("NOTES/Deeper/z.md", "deeper");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(read("notes/x.md"), "v2");
    EXPECT_EQ(filesUnder(folder), (std::vector<std::string>{"notes/Deeper/z.md", "notes/x.md", "notes/y.md"}));
}

TEST_F(SafetyTest, StoreWithoutAnAccountIdDeletesNothing) {
    // given a store that never says whose it is, and a different one behind
    // it at the next pass
    store->setAccount("");
    for (auto name : {"a", "b", "c", "d"}) write(name, name);
    ASSERT_EQ(sync(), "");
    store = std::make_shared<FakeRemoteStore>("");
    store->put("a", "a");
    store->put("b", "b");
    store->put("e", "e");
    syncer = makeSyncer(store);
    fs::remove(folder / "a");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(filesUnder(folder), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(store->contents().size(), 5u);
}

TEST_F(SafetyTest, WithoutAUsableTrashTheDeletionHappensAndIsLogged) {
    // given a home trash that is a link, which no file may be moved through
    fs::create_directories(home.path() / ".local/share");
    fs::create_directories(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", home.path() / ".local/share/Trash");
    for (auto name : {"a.md", "b.md", "c.md"}) write(name, name);
    ASSERT_EQ(sync(), "");
    store->erase("a.md");
    ASSERT_EQ(sync(), "");
    EXPECT_FALSE(exists("a.md"));
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_EQ(logged("Couldn't move a.md to the Trash ("), 1);
}

TEST_F(SafetyTest, FilesThatCannotBeSyncedAreNamedOnEveryPass) {
    write("Plan.md", "one");
    write("plan.md", "two");
    write(std::string("caf\xe9.txt"), "latin-1 name");
    for (int pass = 1; pass <= 2; ++pass) {
        ASSERT_EQ(sync(), "");
        EXPECT_EQ(
            syncer->unsyncableFiles(),
            (std::vector<std::string>{
                "caf\xef\xbf\xbd.txt: its name is not valid UTF-8",
                "plan.md: its name differs from Plan.md only by letter case, which Dropbox treats as the same file"}));
        EXPECT_EQ(logged("Not syncing plan.md: its name differs from Plan.md"), pass);
    }
}

// A folder that can be opened but not searched: its entries are listed but
// cannot be examined. Run without root, which would bypass the permission.
struct UnsearchableCase {
    const char* name;
    const char* lockedFolder;  // relative to the walked root; "" is the root
    int expected;              // 0 walked with the folder unreadable, 1 threw
};

class UnsearchableFolderTest : public ::testing::TestWithParam<UnsearchableCase> {};

TEST_P(UnsearchableFolderTest, NeverLooksEmpty) {
    TempDir dir;
    fs::path root = dir / "Larder";
    writeFile(root / "sub/note.md", "x");
    writeFile(root / "top.md", "x");
    fs::permissions(dir.path(), fs::perms::all);
    fs::path locked = root / GetParam().lockedFolder;
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    std::string sub = GetParam().lockedFolder;
    int outcome = asUnprivileged([&] {
        try {
            TreeWalk::Result found = TreeWalk::walk(root, realNow(), 600);
            bool unreadable = found.unreadable.size() == 1 && found.unreadable.front().path == sub &&
                              found.unreadable.front().error == EACCES;
            return unreadable ? 0 : 2;
        } catch (const std::exception& error) {
            return std::string(error.what()).find("Permission denied") != std::string::npos ? 1 : 3;
        }
    });
    EXPECT_EQ(outcome, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Walk, UnsearchableFolderTest,
                         ::testing::Values(UnsearchableCase{"Subfolder", "sub", 0}, UnsearchableCase{"Root", "", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
