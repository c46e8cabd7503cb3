#include "threeway/TreeWalk.h"

#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

using namespace brindle;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kLongAgoNs = 60'000'000'000;

std::vector<std::string> listed(const TreeWalk::Result& result) {
    std::vector<std::string> paths;
    for (const auto& file : result.files) paths.push_back(file.path + ":" + std::to_string(file.size));
    return paths;
}

// As if the walk that filled the cache had begun long after its folders last changed.
void settle(TreeWalk::ListingCache& cache) {
    cache.walkStartNs += kLongAgoNs;
}

int64_t mtimeOf(const TreeWalk::Result& result, const std::string& path) {
    for (const auto& file : result.files)
        if (file.path == path) return file.mtimeNs;
    return -1;
}

}  // namespace

TEST(TreeWalkTest, SettledFoldersAreNotReadAgainButTheirFilesAreStillExamined) {
    test::TempDir root;
    test::writeFile(root / "a/one", "1");
    test::writeFile(root / "a/b/two", "22");
    test::writeFile(root / "c/three", "333");
    TreeWalk::ListingCache cache;
    TreeWalk::Result first = TreeWalk::walk(root.path(), 0, 3600, &cache);
    EXPECT_EQ(cache.reused, 0u);
    settle(cache);

    // Same size, new content: only the file's own times tell.
    test::writeFile(root / "a/b/two", "xx");
    timespec times[2] = {{0, UTIME_OMIT}, {1'000'000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root / "a/b/two").c_str(), times, 0), 0);
    TreeWalk::Result second = TreeWalk::walk(root.path(), 0, 3600, &cache);
    EXPECT_EQ(cache.reused, 4u);  // the root, a, a/b and c
    EXPECT_EQ(listed(second), listed(first));
    EXPECT_EQ(mtimeOf(second, "a/b/two"), 1'000'000'000'000'005);
}

TEST(TreeWalkTest, ASavedListingServesTheNextProcessOnlyWhileNothingIsInDoubt) {
    test::TempDir root;
    test::writeFile(root / "a/one", "1");
    test::writeFile(root / "a/b/two", "22");
    TreeWalk::ListingCache cache;
    TreeWalk::Result first = TreeWalk::walk(root.path(), 0, 3600, &cache);
    if (cache.mount == 0) GTEST_SKIP() << "this kernel does not tell mounts apart";
    settle(cache);
    test::TempDir state;
    const fs::path file = state / "listing";
    cache.save(file);

    TreeWalk::ListingCache loaded = TreeWalk::ListingCache::load(file);
    EXPECT_EQ(listed(TreeWalk::walk(root.path(), 0, 3600, &loaded)), listed(first));
    EXPECT_EQ(loaded.reused, 3u);  // the root, a and a/b
    // Nothing read, nothing to write.
    fs::last_write_time(file, fs::file_time_type{});
    loaded.save(file);
    EXPECT_EQ(fs::last_write_time(file), fs::file_time_type{});

    // Another mount of the same device may hold anything.
    loaded.mount += 1;
    loaded.folders.at("a/").names.clear();
    EXPECT_EQ(listed(TreeWalk::walk(root.path(), 0, 3600, &loaded)), listed(first));
    EXPECT_EQ(loaded.reused, 0u);

    // A damaged file that still parses would hide a file, which then looks deleted.
    std::string bytes = test::readFile(file);
    bytes[bytes.find("two") + 1] = 'X';
    test::writeFile(file, bytes);
    EXPECT_TRUE(TreeWalk::ListingCache::load(file).folders.empty());
}

TEST(TreeWalkTest, LargeFoldersAreListedCompletely) {
    test::TempDir root;
    const std::string padding(150, 'n');  // many reads of the kernel's listing
    for (int i = 0; i < 800; ++i) test::writeFile(root / (padding + std::to_string(i)), "");
    EXPECT_EQ(TreeWalk::walk(root.path(), 0, 3600).files.size(), 800u);
}

struct ListingChange {
    const char* name;
    std::function<void(const fs::path& root, TreeWalk::ListingCache& cache)> change;
    std::vector<std::string> expected;
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
    test::writeFile(root.path().parent_path() / (root.path().filename().string() + "-outside/far"), "f");
    TreeWalk::ListingCache cache;
    TreeWalk::walk(root.path(), 0, 3600, &cache);
    GetParam().change(root.path(), cache);
    EXPECT_EQ(listed(TreeWalk::walk(root.path(), 0, 3600, &cache)), GetParam().expected);
    fs::remove_all(root.path().parent_path() / (root.path().filename().string() + "-outside"));
}

// A walk that read the folder in the same clock tick as the change records
// the times the folder has after it.
void recordNowAsIfReadInTheSameTick(const fs::path& folder, TreeWalk::ListingCache::Folder& record) {
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    record.mtimeNs = info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec;
    record.ctimeNs = info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TreeWalkReuseTest,
    ::testing::Values(ListingChange{"FileAddedInTheSameTickAsTheWalk",
                                    [](const fs::path& root, TreeWalk::ListingCache& cache) {
                                        test::writeFile(root / "kept/new", "nn");
                                        recordNowAsIfReadInTheSameTick(root / "kept", cache.folders.at("kept/"));
                                    },
                                    {"kept/file:1", "kept/new:2", "moved/inside:1"}},
                      ListingChange{"FolderRenamedOverAnother",
                                    [](const fs::path& root, TreeWalk::ListingCache& cache) {
                                        settle(cache);
                                        fs::rename(root / "moved", root / "empty");
                                        // Only the inode tells the two folders apart.
                                        recordNowAsIfReadInTheSameTick(root, cache.folders.at(""));
                                        recordNowAsIfReadInTheSameTick(root / "empty", cache.folders.at("empty/"));
                                        settle(cache);
                                    },
                                    {"empty/inside:1", "kept/file:1"}},
                      ListingChange{"FolderReplacedByALink",
                                    [](const fs::path& root, TreeWalk::ListingCache& cache) {
                                        settle(cache);
                                        fs::remove_all(root / "moved");
                                        fs::create_directory_symlink(
                                            root.parent_path() / (root.filename().string() + "-outside"),
                                            root / "moved");
                                        recordNowAsIfReadInTheSameTick(root, cache.folders.at(""));
                                        settle(cache);
                                    },
                                    {"kept/file:1"}},
                      ListingChange{"FolderOnAnotherDevice",
                                    [](const fs::path&, TreeWalk::ListingCache& cache) {
                                        settle(cache);
                                        cache.folders.at("kept/").device += 1;
                                        cache.folders.at("kept/").names.clear();
                                    },
                                    {"kept/file:1", "moved/inside:1"}}),
    [](const ::testing::TestParamInfo<ListingChange>& info) { return std::string(info.param.name); });
