#include "threeway/TreeWalk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "support/TempDir.h"

using namespace brindle;
namespace fs = std::filesystem;
using Cache = TreeWalk::ListingCache;

namespace {

// "path:size" of every file a walk of root finds, one per line.
std::string walked(const fs::path& root, Cache* cache = nullptr) {
    std::string out;
    for (const auto& file : TreeWalk::walk(root, 0, 3600, cache).files)
        out += std::string(file.path) + ":" + std::to_string(file.size) + "\n";
    return out;
}

// As if the walk that filled the cache had begun long after its folders last changed.
void settle(Cache& cache) {
    cache.walkStartNs += 60'000'000'000;
}

// A walk that read the folder in the same clock tick as a change records the
// times the folder has after it.
void recordNow(const fs::path& folder, Cache::Folder& record) {
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    record.mtimeNs = info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec;
    record.ctimeNs = info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec;
}

}  // namespace

TEST(TreeWalkTest, SettledFoldersAreNotReadAgainButTheirFilesAreStillExamined) {
    test::TempDir root;
    test::writeFile(root / "a/one", "1");
    test::writeFile(root / "a/b/two", "22");
    test::writeFile(root / "c/three", "333");
    Cache cache;
    const std::string first = walked(root.path(), &cache);
    settle(cache);
    // Same size, new content: only the file's own times tell.
    test::writeFile(root / "a/b/two", "xx");
    timespec times[2] = {{0, UTIME_OMIT}, {1'000'000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root / "a/b/two").c_str(), times, 0), 0);
    TreeWalk::Result second = TreeWalk::walk(root.path(), 0, 3600, &cache);
    EXPECT_EQ(cache.reused, 4u);  // the root, a, a/b and c
    EXPECT_EQ(walked(root.path()), first);
    EXPECT_EQ(std::pair(std::string(second.files.at(0).path), second.files.at(0).mtimeNs),
              std::pair(std::string("a/b/two"), int64_t{1'000'000'000'000'005}));
}

TEST(TreeWalkTest, ASavedListingServesTheNextProcessOnlyWhileNothingIsInDoubt) {
    test::TempDir root, state;
    test::writeFile(root / "a/one", "1");
    test::writeFile(root / "a/b/two", "22");
    Cache cache;
    const std::string first = walked(root.path(), &cache);
    if (cache.mount == 0) GTEST_SKIP() << "this kernel does not tell mounts apart";
    settle(cache);
    const fs::path file = state / "listing";
    cache.save(file);
    Cache loaded = Cache::load(file);
    EXPECT_EQ(walked(root.path(), &loaded), first);
    EXPECT_EQ(loaded.reused, 3u);  // the root, a and a/b
    // Nothing read, nothing to write.
    fs::last_write_time(file, fs::file_time_type{});
    loaded.save(file);
    EXPECT_EQ(fs::last_write_time(file), fs::file_time_type{});
    // Another mount of the same device may hold anything.
    loaded.mount += 1;
    loaded.at("a/").names.clear();
    EXPECT_EQ(walked(root.path(), &loaded), first);
    EXPECT_EQ(loaded.reused, 0u);
    // A damaged file that still parses would hide a file, which then looks deleted.
    std::string bytes = test::readFile(file);
    bytes[bytes.find("two") + 1] = 'X';
    test::writeFile(file, bytes);
    EXPECT_TRUE(Cache::load(file).empty());
    // A listing of megabytes is written in pieces under one checksum.
    Cache large;
    large.mount = 7;
    large.changed = true;
    large.readSinceSaved = 20'000;
    for (int i = 0; i < 20'000; ++i) large.replace("f" + std::to_string(i) + "/").names.add(std::string(60, 'n'), 8);
    large.save(file);
    ASSERT_GT(fs::file_size(file), 1u << 20);
    Cache back = Cache::load(file);
    EXPECT_EQ(back.size(), 20'000u);
    EXPECT_EQ(back.at("f19999/").names.size(), 1u);
}

TEST(TreeWalkTest, ASavedListingIsKeptWhileFewFoldersChangedAndStillTellsTheirNewNames) {
    test::TempDir root, state;
    for (int i = 0; i < 70; ++i) test::writeFile(root / ("f" + std::to_string(i)) / "a", "1");
    Cache cache;
    walked(root.path(), &cache);
    if (cache.mount == 0) GTEST_SKIP() << "this kernel does not tell mounts apart";
    settle(cache);
    const fs::path file = state / "listing";
    cache.save(file);
    test::writeFile(root / "f3/b", "22");
    const std::string now = walked(root.path());
    // One folder of 71 read again: the file stays as it was ...
    Cache loaded = Cache::load(file);
    fs::last_write_time(file, fs::file_time_type{});
    EXPECT_EQ(walked(root.path(), &loaded), now);
    EXPECT_EQ(loaded.reused, 70u);
    loaded.save(file);
    EXPECT_EQ(fs::last_write_time(file), fs::file_time_type{});
    // ... and the next process, given the older copy, reads that folder again.
    Cache again = Cache::load(file);
    EXPECT_EQ(walked(root.path(), &again), now);
    EXPECT_EQ(again.reused, 70u);
}

TEST(TreeWalkTest, LargeFoldersAreListedCompletely) {
    test::TempDir root;
    const std::string padding(150, 'n');  // many reads of the kernel's listing
    for (int i = 0; i < 800; ++i) test::writeFile(root / (padding + std::to_string(i)), "");
    EXPECT_EQ(TreeWalk::walk(root.path(), 0, 3600).files.size(), 800u);
}

struct ListingChange {
    const char* name;
    std::function<void(const fs::path& root, Cache& cache)> change;
    const char* expected;
};

void PrintTo(const ListingChange& change, std::ostream* out) {
    *out << change.name;
}

class TreeWalkReuseTest : public ::testing::TestWithParam<ListingChange> {};

TEST_P(TreeWalkReuseTest, AnyDoubtReadsTheFolderAgain) {
    test::TempDir root;
    test::writeFile(root / "kept/file", "k");
    test::writeFile(root / "moved/inside", "m");
    fs::create_directories(root / "empty");
    test::writeFile(root.path().string() + "-outside/far", "f");
    Cache cache;
    walked(root.path(), &cache);
    GetParam().change(root.path(), cache);
    EXPECT_EQ(walked(root.path(), &cache), GetParam().expected);
    fs::remove_all(root.path().string() + "-outside");
}

INSTANTIATE_TEST_SUITE_P(Faults, TreeWalkReuseTest,
                         ::testing::Values(ListingChange{"FileAddedInTheSameTickAsTheWalk",
                                                         [](const fs::path& root, Cache& cache) {
                                                             test::writeFile(root / "kept/new", "nn");
                                                             recordNow(root / "kept", cache.at("kept/"));
                                                         },
                                                         "kept/file:1\nkept/new:2\nmoved/inside:1\n"},
                                           ListingChange{"FolderRenamedOverAnother",
                                                         [](const fs::path& root, Cache& cache) {
                                                             settle(cache);
                                                             fs::rename(root / "moved", root / "empty");
                                                             // Only the inode tells the two folders apart.
                                                             recordNow(root, cache.at(""));
                                                             recordNow(root / "empty", cache.at("empty/"));
                                                             settle(cache);
                                                         },
                                                         "empty/inside:1\nkept/file:1\n"},
                                           ListingChange{"FolderReplacedByALink",
                                                         [](const fs::path& root, Cache& cache) {
                                                             settle(cache);
                                                             fs::remove_all(root / "moved");
                                                             fs::create_directory_symlink(root.string() + "-outside",
                                                                                          root / "moved");
                                                             recordNow(root, cache.at(""));
                                                             settle(cache);
                                                         },
                                                         "kept/file:1\n"},
                                           ListingChange{"FolderOnAnotherDevice",
                                                         [](const fs::path&, Cache& cache) {
                                                             settle(cache);
                                                             cache.at("kept/").device += 1;
                                                             cache.at("kept/").names.clear();
                                                         },
                                                         "kept/file:1\nmoved/inside:1\n"}),
                         [](const ::testing::TestParamInfo<ListingChange>& info) {
                             return std::string(info.param.name);
                         });
