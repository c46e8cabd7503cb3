#include "threeway/DropboxFailure.h"
#include "threeway/DropboxSyncer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/FakeRemoteStore.h"
#include "support/TempDir.h"

namespace brindle::test {
namespace {

using Call = FakeRemoteStore::Call;

// A store that can only list everything, as a drive can.
class ListsEverything : public FakeRemoteStore {
public:
    RemoteListing listChanges(const std::string&) override { throw DropboxFailure::reset(); }
    bool listsChanges() const override { return false; }
};

TEST(SyncRoundsTest, ARoundThatRanAllItsActionsIsConfirmedWithoutListingBothSidesAgain) {
    IsolatedHome home;
    TempDir dir;
    const auto folder = dir / "Larder";
    std::filesystem::create_directories(folder);
    auto drive = std::make_shared<ListsEverything>();
    DropboxSyncer syncer(folder, dir / "state/drive.json", drive, "Stick", std::nullopt, 1);
    // Ahead of the real clock: the files written here are not busy.
    syncer.setClock(
        [] { return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() + 10; });
    writeFile(folder / "a.txt", "a");
    drive->put("b.txt", "b");
    // Written while the pass works: left for the next pass, never lost.
    drive->onCall([&](Call call, const std::string&) {
        if (call == Call::upload && !std::filesystem::exists(folder / "late.txt"))
            writeFile(folder / "late.txt", "late");
    });
    syncer.sync();
    EXPECT_EQ(drive->calls(Call::listAll), 1);
    EXPECT_EQ(drive->content("a.txt"), "a");
    EXPECT_EQ(readFile(folder / "b.txt"), "b");
    EXPECT_FALSE(drive->content("late.txt"));

    syncer.sync();
    EXPECT_EQ(drive->content("late.txt"), "late");
    EXPECT_EQ(drive->calls(Call::listAll), 2);
}

}  // namespace
}  // namespace brindle::test
