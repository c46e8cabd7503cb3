#include "drives/DriveStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/DropboxHash.h"
#include "drives/DriveMarker.h"
#include "support/Expect.h"
#include "support/ScratchMount.h"
#include "support/TempDir.h"
#include "threeway/DropboxFailure.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

class DriveStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path volume = dir / "USB", larder = volume / "Larder", cacheFile = dir / "state/drive-D1-hashes.json";
    std::unique_ptr<DriveStore> store = made();

    std::unique_ptr<DriveStore> made() {
        fs::create_directories(larder);
        return std::make_unique<DriveStore>(volume, "D1", cacheFile);
    }
    std::string failureOf(const std::function<void()>& call) { return failureText<DropboxFailure>(call); }
    std::string hashOf(const std::string& key) {
        for (auto& entry : store->listAll().entries)
            if (entry.key == key) return entry.file->hash;
        return "";
    }
    void touch(const std::string& path, const std::string& content, time_t seconds) {
        writeFile(larder / path, content);
        timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
        ::utimensat(AT_FDCWD, (larder / path).c_str(), times, 0);
    }
};

TEST_F(DriveStoreTest, ListsEveryFileWithItsHashAndNothingElse) {
    writeFile(larder / "Notes/Plan.md", "plan");
    writeFile(larder / ".hidden", "hidden files count");
    writeFile(larder / ".DS_Store", "litter");
    writeFile(larder / ".Trashes/old", "litter");
    writeFile(larder / "sub/.brindle-tmp-0123456789ab", "half a copy from a killed run");
    writeFile(volume / ".brindle-larder", "the marker is outside the folder");
    fs::create_symlink("/etc/hostname", larder / "link");
    RemoteListing listing = store->listAll();
    EXPECT_EQ(listing.cursor, "scan");
    ASSERT_EQ(listing.entries.size(), 2u);
    EXPECT_EQ(listing.entries[0].key, ".hidden");
    EXPECT_EQ(*listing.entries[1].file, (RemoteFile{"Notes/Plan.md", DropboxHash::ofBytes("plan"), "", 4, 0}));
    EXPECT_EQ(listing.entries[1].key, "notes/plan.md");
    EXPECT_FALSE(fs::exists(larder / "sub/.brindle-tmp-0123456789ab"));  // cleared at once
    EXPECT_EQ(store->account(), "D1");
    EXPECT_THROW(store->listChanges("scan"), DropboxFailure);
    fs::remove_all(larder);
    EXPECT_EQ(failureOf([&] { store->listAll(); }),
              "The drive has no \"Larder\" folder; was it formatted? Remove it and add it again.");
}

TEST_F(DriveStoreTest, CachedHashIsReusedOnlyWhileSizeAndTimeMatch) {
    touch("a.txt", "abc", 1000);
    store->listAll();
    // given a cache whose hash we can recognise, read by a store built afresh
    std::string text = readFile(cacheFile), real = DropboxHash::ofBytes("abc");
    writeFile(cacheFile, text.replace(text.find(real), real.size(), std::string(64, 'f')));
    store = made();
    EXPECT_EQ(hashOf("a.txt"), std::string(64, 'f'));
    touch("a.txt", "abc", 2000);  // touched: same size, new time
    EXPECT_EQ(hashOf("a.txt"), real);
    touch("a.txt", "xyz", 2000);  // same size and time: all the cache can tell
    EXPECT_EQ(hashOf("a.txt"), real);
    touch("a.txt", "abcd", 2000);
    EXPECT_EQ(hashOf("a.txt"), DropboxHash::ofBytes("abcd"));
    fs::remove(larder / "a.txt");
    store->listAll();
    EXPECT_TRUE(store->cache().empty());
    for (std::string undecodable : {R"({"a.txt":{"size":"three","mtimeNs":1,"hash":"x"}})", "[]"}) {
        writeFile(cacheFile, undecodable);
        EXPECT_TRUE(made()->cache().empty()) << undecodable;
    }
}

TEST_F(DriveStoreTest, UploadNeedsAMebibyteFreeDownloadReplacesAndRemovePrunes) {
    writeFile(dir / "ten.bin", std::string(size_t{10} * 1048576, 't'));
    store->setFreeBytes([] { return std::optional<int64_t>(10 * 1048576 + 524288); });
    EXPECT_EQ(failureOf([&] { store->upload("ten.bin", dir / "ten.bin", std::nullopt); }),
              "The drive is full, so Brindle can't add more files to it.");
    EXPECT_FALSE(fs::exists(larder / "ten.bin"));
    store->setFreeBytes([] { return std::optional<int64_t>(11 * 1048576); });
    RemoteFile stored = store->upload("Films/ten.bin", dir / "ten.bin", std::string("ignored rev"));
    EXPECT_EQ(stored,
              (RemoteFile{"Films/ten.bin", DropboxHash::of(dir / "ten.bin"), "", 10 * 1048576, stored.modified}));
    EXPECT_EQ(store->cache().at("Films/ten.bin").hash, stored.hash);
    EXPECT_EQ(pathsIn(larder), std::vector<std::string>{"Films/ten.bin"});  // no temporary left

    writeFile(dir / "to", "something older and longer");
    writeFile(larder / "a/b/c.txt", "on the drive");
    store->download("a/b/c.txt", dir / "to");
    EXPECT_EQ(readFile(dir / "to"), "on the drive");
    EXPECT_NE(failureOf([&] { store->download("missing", dir / "to"); }), "(nothing thrown)");
    store->remove("a/b/c.txt", std::nullopt);
    EXPECT_FALSE(fs::exists(larder / "a"));
    store->remove("Films/ten.bin", std::string("rev"));
    EXPECT_TRUE(fs::is_directory(larder) && fs::is_empty(larder));
    EXPECT_NE(failureOf([&] { store->remove("gone.txt", std::nullopt); }), "(nothing thrown)");
}

TEST_F(DriveStoreTest, PathsOutsideTheFolderAreRefused) {
    fs::create_directories(dir / "elsewhere");
    fs::create_symlink(dir / "elsewhere", larder / "link");
    writeFile(dir / "src", "x");
    for (std::string path : {"../x", "/x", "a/../../x", "link/x"}) {
        EXPECT_EQ(failureOf([&] { store->upload(path, dir / "src", std::nullopt); }),
                  "Refusing a path outside the drive's folder: " + path);
        EXPECT_NE(failureOf([&] { store->remove(path, std::nullopt); }), "(nothing thrown)");
    }
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_FALSE(fs::exists(volume / "x"));
}

const std::string kID = "5a1d0c4e-0000-4000-8000-0000000000a1";

// A volume's marker is untrusted input: it must never hang the sync, exhaust
// memory, lead through a link or name a file outside the state folder.
TEST(DriveMarkerSafetyTest, ReadsOnlySmallRegularMarkersWithAPlainId) {
    auto naming = [](const std::string& id) { return R"({"v":1,"drive_id":")" + id + R"(","created":"x"})"; };
    const std::map<std::string, std::function<void(const fs::path& marker, const fs::path& elsewhere)>> cases{
        {"PathInId", [&](auto& marker, auto&) { writeFile(marker, naming("../../x")); }},
        {"UpperCaseId",
         [&](auto& marker, auto&) { writeFile(marker, naming("5A1D0C4E-0000-4000-8000-0000000000A1")); }},
        {"Oversized", [&](auto& marker, auto&) { writeFile(marker, naming(kID) + std::string(8000, ' ')); }},
        {"NumberId", [&](auto& marker, auto&) { writeFile(marker, R"({"drive_id": 42})"); }},
        {"Array", [&](auto& marker, auto&) { writeFile(marker, R"(["drive_id"])"); }},
        {"Broken", [&](auto& marker, auto&) { writeFile(marker, "{broken"); }},
        {"NoId", [&](auto& marker, auto&) { writeFile(marker, R"({"v": 1})"); }},
        {"Missing", [&](auto&, auto&) {}},
        {"LinkToMarker",
         [&](auto& marker, auto& elsewhere) {
             writeFile(elsewhere, naming(kID));
             fs::create_symlink(elsewhere, marker);
         }},
        {"LinkToEndlessDevice", [&](auto& marker, auto&) { fs::create_symlink("/dev/zero", marker); }},
        {"FIFO", [&](auto& marker, auto&) { ::mkfifo(marker.c_str(), 0600); }},
    };
    for (const auto& [name, place] : cases) {
        TempDir dir;
        fs::create_directories(dir / "volume");
        place(dir / "volume" / DriveMarker::kFileName, dir / "elsewhere");
        EXPECT_EQ(DriveMarker::read(dir / "volume"), std::nullopt) << name;
    }
    TempDir dir;
    DriveMarker::write(dir.path(), kID);
    EXPECT_EQ(DriveMarker::read(dir.path()), kID);
}

TEST(DriveCaseTest, UploadsGoIntoTheDrivesFoldersAsTheyAreCased) {
    TempDir dir;
    writeFile(dir / "USB/Larder/Notes/old.md", "old");
    writeFile(dir / "new.md", "new");
    DriveStore drive(dir / "USB", kID, dir / "hashes.json");
    EXPECT_EQ(drive.upload("notes/new.md", dir / "new.md", std::nullopt).path, "Notes/new.md");
    EXPECT_EQ(filesIn(dir / "USB/Larder"), (Tree{{"Notes/new.md", "new"}, {"Notes/old.md", "old"}}));
}

TEST(DriveFullTest, UploadThatRunsOutOfSpaceKeepsTheOldFileAndNoTemporary) {
    TempDir dir;
    ScratchMount volume(dir / "USB", 1 << 20);
    if (!volume.mounted()) GTEST_SKIP() << volume.why();
    writeFile(dir / "USB/Larder/big.bin", std::string(400000, 'o'));
    writeFile(dir / "new.bin", std::string(700000, 'n'));
    DriveStore drive(dir / "USB", kID, dir / "hashes.json");
    drive.setFreeBytes([] { return int64_t{1} << 40; });  // a file system that claims more than it has
    EXPECT_EQ(failureText([&] { drive.upload("big.bin", dir / "new.bin", std::nullopt); }),
              "Couldn't copy it to the drive: No space left on device");
    EXPECT_EQ(filesIn(dir / "USB/Larder"), (Tree{{"big.bin", std::string(400000, 'o')}}));
}

}  // namespace
}  // namespace brindle::test
