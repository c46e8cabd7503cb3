#include "threeway/Reconcile.h"

#include <gtest/gtest.h>

using namespace brindle;
using Kind = SyncAction::Kind;
using BaseChange = SyncDecision::BaseChange;

namespace {

// One key's three sides: each present with a content hash or absent.
struct Sides {
    std::optional<std::string> local, base, remote;
    bool localGone = false, remoteGone = false;
};

SyncDecision decide(const Sides& sides) {
    Local local{"Notes/Plan.md", 10, 5'000'000'000};
    SyncBase base{"Notes/Plan.md", sides.base.value_or(""), "r1", 10, 5'000'000'000};
    RemoteFile remote{"notes/plan.md", sides.remote.value_or(""), "r2", 12, 7.5};
    return reconcileKey("notes/plan.md", sides.local ? &local : nullptr, sides.local ? &*sides.local : nullptr,
                        sides.base ? &base : nullptr, sides.remote ? &remote : nullptr, sides.localGone,
                        sides.remoteGone, "Dropbox");
}

std::optional<Kind> kindOf(const Sides& sides) {
    auto decision = decide(sides);
    if (!decision.action) return std::nullopt;
    return decision.action->kind;
}

}  // namespace

TEST(Reconcile, EveryRowOfTheTable) {
    // L, B, R hashes: "a" is the base content, "b" and "c" are edits.
    EXPECT_EQ(kindOf({"a", "a", "b"}), Kind::download);      // changed remotely
    EXPECT_EQ(kindOf({"b", "a", "a"}), Kind::upload);        // changed here
    EXPECT_EQ(kindOf({"b", "a", "c"}), Kind::conflict);      // changed on both sides
    EXPECT_EQ(kindOf({"b", {}, "c"}), Kind::conflict);       // created differently on both sides
    EXPECT_EQ(kindOf({"b", {}, {}}), Kind::upload);          // new here
    EXPECT_EQ(kindOf({"a", "a", {}}), Kind::removeLocal);    // deleted remotely
    EXPECT_EQ(kindOf({"b", "a", {}}), Kind::upload);         // edited here, deleted remotely
    EXPECT_EQ(kindOf({{}, {}, "c"}), Kind::download);        // new remotely
    EXPECT_EQ(kindOf({{}, "a", "a"}), Kind::removeRemote);   // deleted here
    EXPECT_EQ(kindOf({{}, "a", "c"}), Kind::download);       // deleted here, edited remotely
}

TEST(Reconcile, EqualSidesAreAdoptedAndVanishedOnesForgotten) {
    auto same = decide({"a", {}, "a"});
    EXPECT_EQ(same.baseChange, BaseChange::adopt);
    EXPECT_FALSE(same.action);
    EXPECT_EQ(decide({"b", "a", "b"}).baseChange, BaseChange::adopt);  // the same edit on both sides

    auto gone = decide({{}, "a", {}});
    EXPECT_EQ(gone.baseChange, BaseChange::remove);
    EXPECT_FALSE(gone.action);
    EXPECT_EQ(decide({{}, {}, {}}).baseChange, BaseChange::none);
}

TEST(Reconcile, EditAgainstDeleteKeepsTheFileAndSaysSo) {
    auto keptHere = decide({"b", "a", {}});
    EXPECT_EQ(keptHere.logLine, "Notes/Plan.md was edited here but deleted in Dropbox; keeping the file");
    EXPECT_FALSE(keptHere.action->remote);  // a new file, not an overwrite

    auto keptThere = decide({{}, "a", "c"});
    EXPECT_EQ(keptThere.logLine, "notes/plan.md was deleted here but edited in Dropbox; keeping the file");
    EXPECT_TRUE(decide({"a", "a", "b"}).logLine.empty());
}

TEST(Reconcile, GroupsAndOrderPutDeletionsFirstAndNewestFirst) {
    auto deletion = decide({{}, "a", "a"}).action;
    EXPECT_EQ(deletion->group, 0);
    EXPECT_EQ(deletion->order, 0);
    auto upload = decide({"b", "a", "a"}).action;
    EXPECT_EQ(upload->group, 1);
    EXPECT_DOUBLE_EQ(upload->order, -5.0);  // -mtimeNs / 1e9
    EXPECT_EQ(upload->remote->rev, "r2");   // overwrites the listed revision
    EXPECT_EQ(upload->localHash, "b");
    EXPECT_DOUBLE_EQ(decide({"a", "a", "b"}).action->order, -7.5);  // -R.modified
    EXPECT_DOUBLE_EQ(decide({"b", "a", "c"}).action->order, -7.5);

    std::vector<SyncAction> actions{*upload, *decide({"a", "a", "b"}).action, *deletion};
    std::stable_sort(actions.begin(), actions.end(), runsBefore);
    EXPECT_EQ(actions[0].kind, Kind::removeRemote);
    EXPECT_EQ(actions[1].kind, Kind::download);  // modified 7.5 is newer than 5.0
    EXPECT_EQ(actions[2].kind, Kind::upload);
}

TEST(Reconcile, VanishedFolderNeverDeletesInTheStore) {
    // Without the guard these would delete the remote file.
    EXPECT_EQ(kindOf({{}, "a", "a", /*localGone*/ true}), Kind::download);
    EXPECT_EQ(kindOf({{}, "a", "c", true}), Kind::download);
    EXPECT_EQ(decide({{}, "a", "a", true}).logLine, "");
    // Files that are still here are decided as usual.
    EXPECT_EQ(kindOf({"b", "a", "a", true}), Kind::upload);
}

TEST(Reconcile, EmptiedStoreNeverDeletesHere) {
    auto restored = decide({"a", "a", {}, false, /*remoteGone*/ true});
    EXPECT_EQ(restored.action->kind, Kind::upload);
    EXPECT_FALSE(restored.action->remote);
    EXPECT_EQ(restored.logLine, "");
    EXPECT_EQ(kindOf({"a", "a", "b", false, true}), Kind::download);
}
