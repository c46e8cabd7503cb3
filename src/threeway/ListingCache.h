#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brindle::TreeWalk {

// The names each folder held at the last complete walk of one root, so that
// the next walk can stat a folder's items without reading the folder again.
// A folder's names are trusted only while the root is on the same mount of a
// local file system, the folder's device, inode, modification and change
// times are as recorded, and it had last changed more than kGranularityNs
// before that walk began; anything else reads it. Kept in memory by the owner
// of the root across passes, and in a file across processes; one walk at a
// time.
struct ListingCache {
    // The coarsest clock of the file systems a Larder lives on (FAT keeps
    // modification times to two seconds).
    static constexpr int64_t kGranularityNs = 2'000'000'000;

    struct Folder {
        dev_t device = 0;
        ino_t inode = 0;
        int64_t mtimeNs = 0;
        int64_t ctimeNs = 0;
        std::vector<std::pair<std::string, unsigned char>> names;  // name, DT_* type
    };

    std::unordered_map<std::string, Folder> folders;  // by path with trailing "/" ("" for the root)
    int64_t walkStartNs = 0;                          // when the walk that recorded folders began
    // The root's mount, never the same for two mounts (0: the kernel cannot
    // tell mounts apart, or the file system may change behind our back).
    uint64_t mount = 0;
    size_t reused = 0;     // folders the latest walk did not read
    bool changed = false;  // differs from what was loaded or last saved

    // The cache saved in file, or an empty one when the file is missing,
    // damaged or of another format (every folder is then read).
    static ListingCache load(const std::filesystem::path& file);
    // Writes the cache to file in one step when it changed and may be trusted
    // by another process (a known mount); removes the file when it may not.
    // A failure is only logged by the caller's next full read: the cache
    // saves time and never decides what a folder holds on its own.
    void save(const std::filesystem::path& file);
};

}  // namespace brindle::TreeWalk
