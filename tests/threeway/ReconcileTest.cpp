#include "threeway/Reconcile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/DropboxHash.h"
#include "support/TempDir.h"
#include "threeway/SyncState.h"

using namespace brindle;
namespace fs = std::filesystem;
using Kind = SyncAction::Kind;
using BaseChange = SyncDecision::BaseChange;

namespace {

// One key's sides: a content hash or absent; the folder vanished or the store emptied.
struct Sides {
    std::optional<std::string> local, base, remote;
    bool localGone = false, remoteGone = false;
};

SyncDecision decide(const Sides& sides) {
    Local local{"Notes/Plan.md", 10, 5'000'000'000};
    SyncBase base{"Notes/Plan.md", sides.base.value_or(""), "r1", 10, 5'000'000'000};
    RemoteFile remote{"notes/plan.md", sides.remote.value_or(""), "r2", 12, 7.5};
    ContentHash localHash = sides.local.value_or("");
    return reconcileKey("notes/plan.md", sides.local ? &local : nullptr, sides.local ? &localHash : nullptr,
                        sides.base ? &base : nullptr, sides.remote ? &remote : nullptr, sides.localGone,
                        sides.remoteGone, "Dropbox");
}

}  // namespace

TEST(Reconcile, EveryRowOfTheTable) {
    // L, B, R hashes: "a" is the base content, "b" and "c" are edits.
    struct Row {
        Sides sides;
        std::optional<Kind> kind;
        BaseChange baseChange;
        std::string logLine;
    };
    const std::string keptHere = "Notes/Plan.md was edited here but deleted in Dropbox; keeping the file";
    const std::string keptThere = "notes/plan.md was deleted here but edited in Dropbox; keeping the file";
    const Row rows[] = {
        {{"a", "a", "b"}, Kind::download, BaseChange::none, ""},            // changed remotely
        {{"b", "a", "a"}, Kind::upload, BaseChange::none, ""},              // changed here
        {{"b", "a", "c"}, Kind::conflict, BaseChange::none, ""},            // changed on both sides
        {{"b", {}, "c"}, Kind::conflict, BaseChange::none, ""},             // created differently on both sides
        {{"b", {}, {}}, Kind::upload, BaseChange::none, ""},                // new here
        {{"a", "a", {}}, Kind::removeLocal, BaseChange::none, ""},          // deleted remotely
        {{"b", "a", {}}, Kind::upload, BaseChange::none, keptHere},         // edited here, deleted remotely
        {{{}, {}, "c"}, Kind::download, BaseChange::none, ""},              // new remotely
        {{{}, "a", "a"}, Kind::removeRemote, BaseChange::none, ""},         // deleted here
        {{{}, "a", "c"}, Kind::download, BaseChange::none, keptThere},      // deleted here, edited remotely
        {{"a", {}, "a"}, {}, BaseChange::adopt, ""},                        // equal sides
        {{"b", "a", "b"}, {}, BaseChange::adopt, ""},                       // the same edit on both sides
        {{{}, "a", {}}, {}, BaseChange::remove, ""},                        // gone on both sides
        {{{}, {}, {}}, {}, BaseChange::none, ""},                           //
        {{{}, "a", "a", true}, Kind::download, BaseChange::none, ""},       // a vanished folder never deletes
        {{{}, "a", "c", true}, Kind::download, BaseChange::none, ""},       //   in the store
        {{"b", "a", "a", true}, Kind::upload, BaseChange::none, ""},        //   but what is here counts
        {{"a", "a", {}, false, true}, Kind::upload, BaseChange::none, ""},  // an emptied store never deletes here
        {{"a", "a", "b", false, true}, Kind::download, BaseChange::none, ""},
    };
    for (const Row& row : rows) {
        SyncDecision decision = decide(row.sides);
        SCOPED_TRACE(testing::Message() << row.sides.local.value_or("-") << row.sides.base.value_or("-")
                                        << row.sides.remote.value_or("-") << row.sides.localGone
                                        << row.sides.remoteGone);
        EXPECT_EQ(decision.action ? std::optional(decision.action->kind) : std::nullopt, row.kind);
        EXPECT_EQ(decision.baseChange, row.baseChange);
        EXPECT_EQ(decision.logLine, row.logLine);
    }
    // A file kept against a deletion, or restored to an emptied store, is a new file there.
    EXPECT_FALSE(decide({"b", "a", {}}).action->remote);
    EXPECT_FALSE(decide({"a", "a", {}, false, true}).action->remote);
}
TEST(Reconcile, GroupsAndOrderPutDeletionsFirstAndNewestFirst) {
    auto deletion = decide({{}, "a", "a"}).action, upload = decide({"b", "a", "a"}).action;
    EXPECT_EQ(std::tuple(deletion->group, deletion->order, upload->group, upload->order), std::tuple(0, 0.0, 1, -5.0));
    EXPECT_EQ(upload->remote->rev + upload->localHash.str(), "r2b");  // overwrites the listed revision
    EXPECT_DOUBLE_EQ(decide({"b", "a", "c"}).action->order, -7.5);    // -R.modified
    std::vector<SyncAction> actions{*upload, *decide({"a", "a", "b"}).action, *deletion};
    std::stable_sort(actions.begin(), actions.end(), runsBefore);  // modified 7.5 is newer than 5.0
    EXPECT_EQ(std::vector({actions[0].kind, actions[1].kind, actions[2].kind}),
              std::vector({Kind::removeRemote, Kind::download, Kind::upload}));
}
TEST(SyncState, RoundTripsAnyNameReadsWhatAnyJSONWriterWritesAndSavesIntoNewFolders) {
    SyncState state;
    state.account = "dbid:\xC3\xA9";
    std::string odd = "Notes/\"quoted\" back\\slash\nnew line\x01 \xC3\xA9t\xC3\xA9.md";
    state.remote[pathKey(odd)] = RemoteFile{odd, "ab", "r1", 3, 1.7e9 + 0.25};
    // A hash of 64 hex digits is kept as bytes; upper-case digits stay text. Both read back as written.
    std::string digest = DropboxHash::ofBytes("x"), upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    state.remote["d"] = RemoteFile{"d", digest, "", 1, 0};
    state.remote["u"] = RemoteFile{"u", upper, "", 1, 0};
    EXPECT_EQ(state.remote["d"].hash.str() + state.remote["u"].hash.str(), digest + upper);
    EXPECT_NE(state.remote["d"].hash, state.remote["u"].hash);
    std::string zeros(64, '0');  // all-zero bytes also mean "no hash": this one must stay a hash
    state.remote["z"] = RemoteFile{"z", zeros, "", 1, 0};
    EXPECT_EQ(state.remote["z"].hash.str(), zeros);
    EXPECT_FALSE(state.remote["z"].hash.empty());
    EXPECT_NE(state.remote["z"].hash, ContentHash());
    state.base[pathKey(odd)] = SyncBase{odd, "ab", "r1", 3, 1'700'000'000'123'456'789};
    std::string text = state.encode();
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find("cursor"), std::string::npos);  // left out when absent
    EXPECT_EQ(SyncState::decode(text), state);
    state.cursor = "c/1";
    auto json = nlohmann::json::parse(state.encode());
    EXPECT_EQ(json["base"][pathKey(odd)]["mtimeNs"].get<int64_t>(), 1'700'000'000'123'456'789);
    EXPECT_EQ(SyncState::decode(json.dump(2)), state);
    EXPECT_EQ(SyncState::decode(json.dump(-1, ' ', true)), state);  // everything non-ASCII as \u
    std::string reordered = R"({"base":{"a":{"mtimeNs":99,"size":1,"rev":"r1","hash":"h1","path":"A"}},)"
                            R"("remote":{"a":{"size":1,"rev":"r1","hash":"h1","path":"A"}},)"
                            R"("cursor":"c\/1","account":"dbid:\u00e9","extra":[{"x":1}]})";
    SyncState other = *SyncState::decode(reordered);
    EXPECT_EQ(other.base.at("a"), (SyncBase{"A", "h1", "r1", 1, 99}));
    EXPECT_EQ(other.remote.at("a"), (RemoteFile{"A", "h1", "r1", 1, 0}));  // "modified" may be absent
    EXPECT_EQ(other.cursor, "c/1");
    EXPECT_EQ(other.account, state.account);
    brindle::test::TempDir dir;
    state.save(dir / "deep/er/state.json");  // creates its folders
    EXPECT_EQ(SyncState::load(dir / "deep/er/state.json"), state);
    brindle::test::writeFile(dir / "blocker", "a file where a folder should be");
    EXPECT_THROW(state.save(dir / "blocker/state.json"), std::exception);
    EXPECT_FALSE(SyncState::load(dir / "missing.json"));
}
TEST(SyncState, ALargeFileReadsWholeAfterItsReadPagesWereLetGo) {
    // The quick reader drops the pages it has passed; an escape it does not
    // take near the end hands the whole file to the full parser, which must
    // read those pages back from the file, not zeros.
    SyncState state;
    std::string digest = DropboxHash::ofBytes("x"), rev(300, 'r');
    for (int i = 0; i < 12'000; ++i) {
        std::string path = "Folder " + std::to_string(i % 97) + "/file " + std::to_string(i) + ".txt";
        state.remote[pathKey(path)] = RemoteFile{path, digest, rev, i, 1.5};
        state.base[pathKey(path)] = SyncBase{path, digest, rev, i, i};
    }
    state.remote["~\xC3\xA9"] = RemoteFile{"~\xC3\xA9", "h", "r", 1, 0};
    std::string text = state.encode();
    for (size_t at; (at = text.find("\xC3\xA9")) != std::string::npos;) text.replace(at, 2, "\\u00e9");
    brindle::test::TempDir dir;
    brindle::test::writeFile(dir / "state.json", text);
    ASSERT_GT(fs::file_size(dir / "state.json"), 8u << 20);
    EXPECT_EQ(SyncState::load(dir / "state.json"), state);
}
TEST(PathKey, ComposesThenLowersSoCaseAndFormDoNotMatter) {
    EXPECT_EQ(pathKey("Notes/E\xCC\x81t\xC3\xA9.txt") + pathKey("README.md"), "notes/\xC3\xA9t\xC3\xA9.txtreadme.md");
}
TEST(SyncState, RequiredKeysAndTypesAreEnforced) {
    for (std::string bad : {R"({"account":"","remote":{}})", R"({"remote":{},"base":{}})", R"([1,2])",
                            R"({"account":"","remote":[],"base":{}})", R"({"account":"","remote":{},"base":{})",
                            R"({"account":"","remote":{},"base":{"a":{"path":"a","hash":"h","rev":"","size":1}}})",
                            R"({"account":"","remote":{"a":{"path":"a","rev":"","size":1}},"base":{}})",
                            R"({"account":"","remote":{"a":{"path":"a","hash":"","rev":"","size":"1"}},"base":{}})"})
        EXPECT_FALSE(SyncState::decode(bad)) << bad;
}

// A pass that changed a few records appends them beside the state; loading
// applies every sound entry made against that very state file and nothing else.
TEST(JournaledFile, StateChangesGoToTheJournalAndLoadOnlyWhenSoundAndOurs) {
    brindle::test::TempDir dir;
    fs::path file = dir / "state.json";
    SyncState state;
    state.account = "acct";
    for (int i = 0; i < 50; ++i) {
        std::string key = "f" + std::to_string(i);
        state.remote[key] = RemoteFile{key, DropboxHash::ofBytes(key), "r", i, 0};
        state.base[key] = SyncBase{key, DropboxHash::ofBytes(key), "r", i, i};
    }
    JournaledFile saved(file);
    EXPECT_FALSE(state.saveChanges(saved, {"f1"}));  // nothing on disk to extend yet
    state.save(saved);
    std::string whole = brindle::test::readFile(file);

    // Changed, added, removed on one side, removed on both; a new cursor.
    auto change = [&](std::set<std::string> keys, auto edit) {
        edit();
        ASSERT_TRUE(state.saveChanges(saved, keys));
    };
    change({"f1", "new"}, [&] {
        state.remote["f1"].hash = DropboxHash::ofBytes("edited");
        state.base["new"] = SyncBase{"New", "cafe", "r2", 4, 5};
        state.remote["new"] = RemoteFile{"New", "cafe", "r2", 4, 1.5};
        state.cursor = "c1";
    });
    auto afterFirst = state;
    change({"f2", "f3"}, [&] {
        state.remote.erase("f2");
        state.remote.erase("f3");
        state.base.erase("f3");
    });
    EXPECT_EQ(brindle::test::readFile(file), whole);  // the state file itself is not written again
    EXPECT_EQ(SyncState::load(file), state);
    EXPECT_TRUE(saved.unchanged());

    // A half-written last entry (a crash while appending) ends the journal;
    // the next append replaces it.
    std::string journal = brindle::test::readFile(saved.journal());
    brindle::test::writeFile(saved.journal(), journal.substr(0, journal.size() - 10));
    EXPECT_EQ(SyncState::load(file), afterFirst);
    JournaledFile reopened(file);
    auto loaded = SyncState::load(reopened);
    ASSERT_EQ(loaded, afterFirst);
    loaded->base.erase("f4");
    ASSERT_TRUE(loaded->saveChanges(reopened, {"f4"}));
    EXPECT_EQ(SyncState::load(file), loaded);
    // A damaged entry ends it too, whatever follows.
    journal = brindle::test::readFile(reopened.journal());
    journal[journal.find("cafe")] = 'b';
    brindle::test::writeFile(reopened.journal(), journal);
    SyncState original = *SyncState::decode(whole);
    EXPECT_EQ(SyncState::load(file), original);

    // A journal left by a crash after a whole write names the old file: ignored.
    JournaledFile again(file);
    ASSERT_TRUE(SyncState::load(again));
    state = original;
    state.base.erase("f9");
    ASSERT_TRUE(state.saveChanges(again, {"f9"}));
    std::string stale = brindle::test::readFile(again.journal());
    original.save(again);
    EXPECT_FALSE(fs::exists(again.journal()));
    brindle::test::writeFile(again.journal(), stale);
    EXPECT_EQ(SyncState::load(file), original);
    // Another writer's state file is never extended; a full journal asks for a whole write.
    JournaledFile mine(file), theirs(file);
    ASSERT_TRUE(SyncState::load(mine) && SyncState::load(theirs));
    state.save(theirs);
    EXPECT_FALSE(mine.unchanged());
    EXPECT_FALSE(state.saveChanges(mine, {"f9"}));
    std::set<std::string> all;
    for (const auto& [key, record] : state.base) all.insert(key);
    int appended = 0;
    while (state.saveChanges(theirs, all) && appended < 1000) ++appended;
    EXPECT_GT(appended, 10);
    EXPECT_LT(appended, 1000);
    EXPECT_EQ(SyncState::load(file), state);
}
