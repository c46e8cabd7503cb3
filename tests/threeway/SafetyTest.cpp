// The reconciler where a pass is interrupted, runs beside another process's
// pass, or meets a folder it can only partly read.
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
    // given a pass killed after it saved the conflict copies but before its
    // state reached the disk
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

TEST_F(SafetyTest, StoreEditsArriveInTheFolderAsItIsCased) {
    write("notes/x.md", "v1");
    store->put("Notes/x.md", "v1");
    ASSERT_EQ(sync(), "");
    store->put("Notes/x.md", "v2");
    store->put("Notes/y.md", "new");
    store->put("NOTES/Deeper/z.md", "deeper");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(filesIn(folder), (Tree{{"notes/Deeper/z.md", "deeper"}, {"notes/x.md", "v2"}, {"notes/y.md", "new"}}));
}

TEST_F(SafetyTest, StoreWithoutAnAccountIdDeletesNothing) {
    // given a store that never says whose it is, and a different one behind it at the next pass
    store->setAccount("");
    for (auto name : {"a", "b", "c", "d"}) write(name, name);
    ASSERT_EQ(sync(), "");
    store = std::make_shared<FakeRemoteStore>("");
    for (auto name : {"a", "b", "e"}) store->put(name, name);
    syncer = makeSyncer();
    fs::remove(folder / "a");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(pathsIn(folder), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
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

// A folder that can be opened but not searched, walked without root (which
// would bypass the permission): a subfolder is reported unreadable, the root
// throws; neither looks empty.
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
