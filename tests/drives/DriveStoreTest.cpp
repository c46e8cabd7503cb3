#include "drives/DriveStore.h"

#include "common/DropboxHash.h"
#include "support/TempDir.h"
#include "threeway/DropboxFailure.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>

using namespace brindle;
using namespace brindle::test;
namespace fs = std::filesystem;

namespace {

class DriveStoreTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path volume = dir / "USB";
    fs::path larder = volume / "Larder";
    fs::path cacheFile = dir / "state/drive-D1-hashes.json";
    std::unique_ptr<DriveStore> store;

    void SetUp() override {
        fs::create_directories(larder);
        store = std::make_unique<DriveStore>(volume, "D1", cacheFile);
    }

    std::string failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const DropboxFailure& failure) {
            return failure.what();
        }
        return "";
    }

    std::map<std::string, RemoteFile> listed() {
        std::map<std::string, RemoteFile> files;
        for (auto& entry : store->listAll().entries) files[entry.key] = *entry.file;
        return files;
    }
};

void setMtime(const fs::path& file, time_t seconds) {
    timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

}  // namespace

TEST_F(DriveStoreTest, ListsEveryFileWithItsHashAndNothingElse) {
    writeFile(larder / "Notes/Plan.md", "plan");
    writeFile(larder / ".hidden", "hidden files count");
    writeFile(larder / ".DS_Store", "litter");
    writeFile(larder / ".Trashes/old", "litter");
    writeFile(volume / ".brindle-larder", "the marker is outside the folder");
    fs::create_symlink("/etc/hostname", larder / "link");
    RemoteListing listing = store->listAll();
    EXPECT_EQ(listing.cursor, "scan");
    ASSERT_EQ(listing.entries.size(), 2u);
    EXPECT_EQ(listing.entries[0].key, ".hidden");
    EXPECT_EQ(listing.entries[1].key, "notes/plan.md");
    EXPECT_EQ(*listing.entries[1].file, (RemoteFile{"Notes/Plan.md", DropboxHash::ofBytes("plan"), "", 4, 0}));
    EXPECT_EQ(store->account(), "D1");
    EXPECT_THROW(store->listChanges("scan"), DropboxFailure);
}

TEST_F(DriveStoreTest, MissingLarderFolderIsExplained) {
    fs::remove_all(larder);
    EXPECT_EQ(failureOf([&] { store->listAll(); }),
              "The drive has no \"Larder\" folder; was it formatted? Remove it and add it again.");
}

TEST_F(DriveStoreTest, CachedHashIsReusedOnlyWhileSizeAndTimeMatch) {
    writeFile(larder / "a.txt", "abc");
    setMtime(larder / "a.txt", 1000);
    store->listAll();
    ASSERT_TRUE(fs::exists(cacheFile));

    // given a cache whose hash we can recognise, read by a store built afresh
    std::string text = readFile(cacheFile);
    std::string real = DropboxHash::ofBytes("abc");
    text.replace(text.find(real), real.size(), std::string(64, 'f'));
    writeFile(cacheFile, text);
    store = std::make_unique<DriveStore>(volume, "D1", cacheFile);
    EXPECT_EQ(listed()["a.txt"].hash, std::string(64, 'f'));

    setMtime(larder / "a.txt", 2000);  // touched: same size, new time
    EXPECT_EQ(listed()["a.txt"].hash, real);
    writeFile(larder / "a.txt", "xyz");  // same size, same time, new content
    setMtime(larder / "a.txt", 2000);
    EXPECT_EQ(listed()["a.txt"].hash, real);  // size and time are all the cache can tell
    writeFile(larder / "a.txt", "abcd");
    setMtime(larder / "a.txt", 2000);
    EXPECT_EQ(listed()["a.txt"].hash, DropboxHash::ofBytes("abcd"));

    fs::remove(larder / "a.txt");
    store->listAll();
    EXPECT_TRUE(store->cache().empty());
}

TEST_F(DriveStoreTest, UndecodableCacheStartsEmpty) {
    writeFile(cacheFile, R"({"a.txt":{"size":"three","mtimeNs":1,"hash":"x"}})");
    EXPECT_TRUE(DriveStore(volume, "D1", cacheFile).cache().empty());
    writeFile(cacheFile, "[]");
    EXPECT_TRUE(DriveStore(volume, "D1", cacheFile).cache().empty());
}

TEST_F(DriveStoreTest, UploadNeedsTheFileAndAMebibyteFree) {
    writeFile(dir / "ten.bin", std::string(size_t{10} * 1048576, 't'));
    store->setFreeBytes([] { return std::optional<int64_t>(10 * 1048576 + 524288); });
    EXPECT_EQ(failureOf([&] { store->upload("ten.bin", dir / "ten.bin", std::nullopt); }),
              "The drive is full, so Brindle can't add more files to it.");
    EXPECT_FALSE(fs::exists(larder / "ten.bin"));

    store->setFreeBytes([] { return std::optional<int64_t>(11 * 1048576); });
    RemoteFile stored = store->upload("Films/ten.bin", dir / "ten.bin", std::string("ignored rev"));
    EXPECT_EQ(stored.hash, DropboxHash::of(dir / "ten.bin"));
    EXPECT_EQ(stored.size, 10 * 1048576);
    EXPECT_EQ(stored.rev, "");
    EXPECT_EQ(store->cache().at("Films/ten.bin").hash, stored.hash);
    EXPECT_EQ(fs::directory_iterator(larder / "Films")->path().filename(), "ten.bin");  // no temporary left
}

TEST_F(DriveStoreTest, DownloadReplacesTheDestination) {
    writeFile(larder / "a.txt", "on the drive");
    writeFile(dir / "to", "something older and longer");
    store->download("a.txt", dir / "to");
    EXPECT_EQ(readFile(dir / "to"), "on the drive");
    EXPECT_FALSE(failureOf([&] { store->download("missing", dir / "to"); }).empty());
}

TEST_F(DriveStoreTest, DeletingTheLastFilePrunesFoldersUpToLarder) {
    writeFile(larder / "a/b/c.txt", "c");
    writeFile(larder / "keep/d.txt", "d");
    store->remove("a/b/c.txt", std::nullopt);
    EXPECT_FALSE(fs::exists(larder / "a"));
    store->remove("keep/d.txt", std::string("rev"));
    EXPECT_TRUE(fs::is_directory(larder));
    EXPECT_TRUE(fs::is_empty(larder));
    EXPECT_FALSE(failureOf([&] { store->remove("gone.txt", std::nullopt); }).empty());
}

TEST_F(DriveStoreTest, PathsOutsideTheFolderAreRefused) {
    fs::create_directories(dir / "elsewhere");
    fs::create_symlink(dir / "elsewhere", larder / "link");
    writeFile(dir / "src", "x");
    for (std::string path : {"../x", "/x", "a/../../x", "link/x"}) {
        EXPECT_EQ(failureOf([&] { store->upload(path, dir / "src", std::nullopt); }),
                  "Refusing a path outside the drive's folder: " + path);
        EXPECT_FALSE(failureOf([&] { store->remove(path, std::nullopt); }).empty());
    }
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_FALSE(fs::exists(volume / "x"));
}

TEST_F(DriveStoreTest, TemporaryFilesOfAKilledRunAreClearedAtOnce) {
    writeFile(larder / "sub/.brindle-tmp-0123456789ab", "half a copy");
    EXPECT_TRUE(store->listAll().entries.empty());
    EXPECT_FALSE(fs::exists(larder / "sub/.brindle-tmp-0123456789ab"));
}
