#include "threeway/DropboxFailure.h"
#include "threeway/SyncerFixture.h"

using namespace brindle;
using namespace brindle::test;
using Call = FakeRemoteStore::Call;

namespace {

// A store that can only list everything, as a drive can.
class ListsEverything : public FakeRemoteStore {
public:
    RemoteListing listChanges(const std::string&) override { throw DropboxFailure::reset(); }
    bool listsChanges() const override { return false; }
};

class SyncRoundsTest : public DropboxSyncerTest {};

}  // namespace

TEST_F(SyncRoundsTest, ARoundThatRanAllItsActionsIsConfirmedWithoutListingBothSidesAgain) {
    auto drive = std::make_shared<ListsEverything>();
    syncer = makeSyncer(drive);
    write("a.txt", "a");
    drive->put("b.txt", "b");
    // Written while the pass works: left for the next pass, never lost.
    drive->onCall([&](Call call, const std::string&) {
        if (call == Call::upload && !exists("late.txt")) write("late.txt", "late");
    });
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(drive->calls(Call::listAll), 1);
    EXPECT_EQ(drive->content("a.txt"), "a");
    EXPECT_EQ(read("b.txt"), "b");
    EXPECT_FALSE(drive->content("late.txt"));

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(drive->content("late.txt"), "late");
    EXPECT_EQ(drive->calls(Call::listAll), 2);
}
