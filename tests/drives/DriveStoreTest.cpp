#include "drives/DriveStore.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <regex>

#include "common/DropboxHash.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "drives/DriveMarker.h"
#include "drives/DriveRegistration.h"
#include "drives/Volumes.h"
#include "support/Expect.h"
#include "support/ScratchMount.h"
#include "support/TempDir.h"
#include "threeway/DropboxFailure.h"
#include "threeway/DropboxSyncer.h"

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
            if (entry.key == key) return entry.file->hash.str();
        return "";
    }
    void touch(const std::string& path, const std::string& content, time_t seconds) {
        writeFile(larder / path, content);
        timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
        ::utimensat(AT_FDCWD, (larder / path).c_str(), times, 0);
    }
};

TEST_F(DriveStoreTest, ListsEveryFileWithItsHashAndNothingElse) {
    for (const auto& [path, content] : Tree{{"Notes/Plan.md", "plan"},
                                            {".hidden", "hidden files count"},
                                            {".DS_Store", "litter"},
                                            {".Trashes/old", "litter"},
                                            {"sub/.brindle-tmp-0123456789ab", "half a copy from a killed run"}})
        writeFile(larder / path, content);
    writeFile(volume / ".brindle-larder", "the marker is outside the folder");
    fs::create_symlink("/etc/hostname", larder / "link");
    RemoteListing listing = store->listAll();
    ASSERT_EQ(listing.entries.size(), 2u);
    EXPECT_EQ(listing.cursor + " " + listing.entries[0].key + " " + listing.entries[1].key,
              "scan .hidden notes/plan.md");
    EXPECT_EQ(*listing.entries[1].file, (RemoteFile{"Notes/Plan.md", DropboxHash::ofBytes("plan"), "", 4, 0}));
    EXPECT_FALSE(fs::exists(larder / "sub/.brindle-tmp-0123456789ab"));  // cleared at once
    EXPECT_EQ(store->account(), "D1");
    EXPECT_THROW(store->listChanges("scan"), DropboxFailure);
    writeFile(dir / "new.md", "new");  // uploads go into the drive's folders as they are cased
    EXPECT_EQ(store->upload("notes/new.md", dir / "new.md", std::nullopt).path, "Notes/new.md");
    EXPECT_EQ(readFile(larder / "Notes/new.md"), "new");
    fs::remove_all(larder);
    EXPECT_EQ(failureOf([&] { store->listAll(); }),
              "The drive has no \"Larder\" folder; was it formatted? Remove it and add it again.");
}
TEST_F(DriveStoreTest, CachedHashIsReusedOnlyWhileSizeAndTimeMatch) {
    touch("a.txt", "abc", 1000);
    store->listAll();
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
TEST_F(DriveStoreTest, EachListingReadsTheCacheFileAsItIsNowInAnyOrder) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) touch(name, "abc", 1000);
    // Written after this store was made, out of path order.
    auto record = [](const std::string& hash) {
        return R"({"size":3,"mtimeNs":1000000000000,"hash":")" + hash + "\"}";
    };
    std::string some(64, 'a'), other(64, 'b');
    writeFile(cacheFile,
              R"({"c.txt":)" + record(some) + R"(,"b.txt":)" + record(other) + R"(,"a.txt":)" + record(some) + "}");
    EXPECT_EQ(hashOf("a.txt") + hashOf("b.txt") + hashOf("c.txt"), some + other + some);
    touch("b.txt", "xyz", 3000);
    EXPECT_EQ(hashOf("b.txt"), DropboxHash::ofBytes("xyz"));
    EXPECT_EQ(made()->cache(), store->cache());
    EXPECT_EQ(store->cache().at("c.txt").hash, some);
}
TEST_F(DriveStoreTest, AFewChangedHashesGoToTheJournalAndLoadBack) {
    for (int i = 0; i < 20; ++i) touch("f" + std::to_string(i), "file " + std::to_string(i), 1000);
    store->listAll();
    std::string whole = readFile(cacheFile);
    touch("f1", "changed", 3000);
    fs::remove(larder / "f2");
    store->listAll();
    EXPECT_EQ(readFile(cacheFile), whole);  // not written again
    EXPECT_TRUE(fs::exists(cacheFile.string() + "-journal"));
    auto cache = store->cache();
    EXPECT_EQ(cache.at("f1").hash, DropboxHash::ofBytes("changed"));
    EXPECT_EQ(cache.count("f2"), 0u);
    EXPECT_EQ(made()->cache(), cache);
}
TEST_F(DriveStoreTest, UploadNeedsAMebibyteFreeDownloadReplacesAndRemovePrunes) {
    writeFile(dir / "ten.bin", std::string(size_t{10} * 1048576, 't'));
    store->setFreeBytes([] { return std::optional<int64_t>(10 * 1048576 + 524288); });
    EXPECT_EQ(failureOf([&] { store->upload("ten.bin", dir / "ten.bin", std::nullopt); }),
              "The drive is full, so Brindle can't add more files to it.");
    EXPECT_FALSE(fs::exists(larder / "ten.bin"));
    store->setFreeBytes([] { return std::optional<int64_t>(11 * 1048576); });
    RemoteFile stored = store->upload("Films/ten.bin", dir / "ten.bin", std::string("ignored rev"));
    EXPECT_EQ(stored, (RemoteFile{"Films/ten.bin", DropboxHash::of(dir / "ten.bin"), "", int64_t{10} * 1048576,
                                  stored.modified}));
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
// A new file is read once, by its copy to the drive, so that copy must be of
// the file as it stays: an edit that keeps its size and time is caught by
// its change time, and the file is copied again.
TEST_F(DriveStoreTest, AnEditDuringTheCopyIsCopiedAgainEvenWithTheSameSizeAndTime) {
    fs::path folder = dir / "Larder", edited = folder / "notes/a.txt";
    writeFile(edited, "first version");
    auto old = fs::last_write_time(edited) - std::chrono::seconds(30);
    fs::last_write_time(edited, old);
    writeFile(folder / "b.txt", "untouched");
    fs::last_write_time(folder / "b.txt", old);
    std::shared_ptr<DriveStore> drive = made();
    bool editing = true;
    // The store reads its clock to date its temporary copy, once that copy is written.
    drive->setClock([&] {
        bool copying = false;  // a.txt, into its folder
        if (fs::exists(larder / "notes"))
            for (const auto& entry : fs::directory_iterator(larder / "notes"))
                copying = copying || entry.path().filename().string().starts_with(".brindle-tmp-");
        if (editing && copying && readFile(edited) == "first version") {
            writeFile(edited, "other version");
            fs::last_write_time(edited, old);
            editing = false;
        }
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    });
    DropboxSyncer syncer(folder, dir / "state/drive.json", drive, "USB");
    syncer.setLog([](const std::string&) {});
    syncer.sync();
    EXPECT_FALSE(editing);
    EXPECT_EQ(filesIn(larder), (Tree{{"b.txt", "untouched"}, {"notes/a.txt", "other version"}}));
    EXPECT_EQ(drive->cache().at("notes/a.txt").hash, DropboxHash::ofBytes("other version"));
}
// The drive is listed while the state loads: whichever side fails, the pass
// reports that failure and ends, and a later pass merges into the state.
TEST_F(DriveStoreTest, TheListingBesideTheLoadingEndsWithThePassAndReportsItsFailure) {
    writeFile(dir / "blocker", "a file where the folder's parent should be");
    std::shared_ptr<DriveStore> drive = made();
    writeFile(larder / "kept.txt", "on the drive");
    auto syncerFor = [&](const fs::path& folder) {
        auto syncer = std::make_unique<DropboxSyncer>(folder, dir / "state/drive.json", drive, "USB");
        syncer->setLog([](const std::string&) {});
        return syncer;
    };
    EXPECT_EQ(failureText([&] { syncerFor(dir / "blocker/Larder")->sync(); }).find("Couldn't create"), 0u);
    auto syncer = syncerFor(dir / "Larder");
    syncer->sync();
    EXPECT_EQ(filesIn(dir / "Larder"), (Tree{{"kept.txt", "on the drive"}}));
    fs::rename(larder, volume / "Larder.moved");
    EXPECT_EQ(failureText([&] { syncer->sync(); }),
              "The drive has no \"Larder\" folder; was it formatted? Remove it and add it again.");
    fs::rename(volume / "Larder.moved", larder);
    writeFile(larder / "new.txt", "new on the drive");
    syncer->sync();
    EXPECT_EQ(filesIn(dir / "Larder"), (Tree{{"kept.txt", "on the drive"}, {"new.txt", "new on the drive"}}));
}
TEST_F(DriveStoreTest, PathsOutsideTheFolderAreRefused) {
    fs::create_directories(dir / "elsewhere");
    fs::create_symlink(dir / "elsewhere", larder / "link");
    writeFile(dir / "src", "x");
    for (std::string path : {"../x", "/x", "a/../../x", "link/x", "Link/x"}) {
        EXPECT_EQ(failureOf([&] { store->upload(path, dir / "src", std::nullopt); }),
                  "Refusing a path outside the drive's folder: " + path);
        EXPECT_NE(failureOf([&] { store->remove(path, std::nullopt); }), "(nothing thrown)");
    }
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_FALSE(fs::exists(volume / "x"));
    // A file whose size says less than it holds: its copy is not taken for it.
    EXPECT_EQ(failureOf([&] {
                  store->upload("status", "/proc/self/status", std::nullopt);
              }).find("Couldn't copy it to the drive: the copy has "),
              0u);
    EXPECT_EQ(pathsIn(larder), std::vector<std::string>{});  // nor its temporary
}

const std::string kID = "5a1d0c4e-0000-4000-8000-0000000000a1";

// A volume's marker is untrusted: it never hangs the sync, exhausts memory, leads through a link or
// names a file outside the state folder.
TEST(DriveMarkerSafetyTest, ReadsOnlySmallRegularMarkersWithAPlainId) {
    auto naming = [](const std::string& id) { return R"({"v":1,"drive_id":")" + id + R"(","created":"x"})"; };
    for (const std::string& content :
         {naming("../../x"), naming("5A1D0C4E-0000-4000-8000-0000000000A1"), naming(kID) + std::string(8000, ' '),
          std::string(R"({"drive_id": 42})"), std::string(R"(["drive_id"])"), std::string("{broken"),
          std::string(R"({"v": 1})"), std::string("missing"), std::string("link"), std::string("/dev/zero"),
          std::string("fifo")}) {
        TempDir dir;
        fs::path marker = dir / "volume" / DriveMarker::kFileName;
        fs::create_directories(dir / "volume");
        writeFile(dir / "elsewhere", naming(kID));
        if (content == "link" || content == "/dev/zero")
            fs::create_symlink(content == "link" ? dir / "elsewhere" : fs::path(content), marker);
        else if (content == "fifo")
            ::mkfifo(marker.c_str(), 0600);
        else if (content != "missing")
            writeFile(marker, content);
        EXPECT_EQ(DriveMarker::read(dir / "volume"), std::nullopt) << content;
    }
    TempDir dir;
    DriveMarker::write(dir.path(), kID);
    EXPECT_EQ(DriveMarker::read(dir.path()), kID);
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

using devserver::Fault;

class DriveRegistrationTest : public ::testing::Test {
protected:
    DriveRegistrationTest() { server.start(); }
    std::string add() { return DriveRegistration::registerDrive(volume.path(), "Blue", {server.url(), "device-1"}); }

    TempDir volume;
    devserver::DevServer server;
};

TEST_F(DriveRegistrationTest, RefusalsKeepTheMarkerAndOneRegistrationReusesItsIdentifier) {
    fs::create_directories(volume / ".brindle-larder");  // a folder in the marker's place stops even root
    EXPECT_THROW(add(), Error);
    EXPECT_TRUE(server.requestsTo("/api/v1/drives").empty() && !fs::exists(volume / "Larder"));
    fs::remove(volume / ".brindle-larder");
    server.injectFault("/api/v1/drives", {Fault::Kind::Status, 409, R"({"error":"too_many_drives"})", {}});
    EXPECT_THROW_WITH(add(), std::exception,
                      "You already have the most drives Brindle can keep. Remove one on the Connections page first.");
    std::optional<std::string> marked = DriveMarker::read(volume.path());
    server.injectFault("/api/v1/drives", {Fault::Kind::Status, 409, R"({"error":"other"})", {}});
    EXPECT_THROW_WITH(add(), std::exception, "Brindle couldn't add the drive (HTTP 409).");
    std::string id = add();
    EXPECT_EQ(marked, id);
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")));
    EXPECT_TRUE(fs::is_directory(volume / "Larder"));
    std::string marker = readFile(volume / ".brindle-larder");
    EXPECT_EQ(add() + readFile(volume / ".brindle-larder"), id + marker);  // not rewritten
    ASSERT_EQ(server.brindle().drives().size(), 1u);
    EXPECT_EQ(server.brindle().drives().begin()->first, id);
    EXPECT_EQ(server.requestsTo("/api/v1/drives").size(), 4u);
}
// Over a made-up kernel device tree: internal disks and the root are system volumes, USB disks are not.
TEST(VolumesTest, TellsInternalDisksFromUSBDrives) {
    TempDir temp;
    fs::path sys = temp / "sys";
    std::string mountinfo = "30 1 8:1 / / rw - ext4 /dev/sda2 rw\n";
    auto line = [](const fs::path& point, const std::string& source) {
        return "40 30 8:17 / " + point.string() + " rw,nosuid - ext4 " + source + " rw\n";
    };
    for (auto [place, name, removable] :
         {std::tuple{"usb2/2-1", "sdb", "1"}, {"usb2/2-2", "sdc", "0"}, {"ata1", "sda", "0"}}) {
        fs::path folder = sys / "devices/pci0000:00" / place / "block" / name,
                 partition = folder / (name + std::string("1"));
        writeFile(folder / "removable", removable + std::string("\n"));
        writeFile(partition / "partition", "1\n");
        fs::create_directories(sys / "class/block");
        fs::create_symlink(partition, sys / "class/block" / partition.filename());
        fs::create_directories(temp / name);
        mountinfo += line(temp / name, "/dev/" + partition.filename().string());
    }
    std::string kinds;
    for (const fs::path& point : {temp / "sdb", temp / "sdc", temp / "sda", fs::path("/")})
        kinds += Volumes::isSystemVolume(point, mountinfo, sys) ? "S" : "u";
    EXPECT_EQ(kinds, "uuSS");
    EXPECT_FALSE(Volumes::isSystemVolume(temp / "sdb", line(temp / "sdb", "server:/export"), sys));
}

}  // namespace
}  // namespace brindle::test
