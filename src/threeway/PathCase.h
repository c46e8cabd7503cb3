#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "threeway/ListingCache.h"

// Path keys fold letter case but a Linux folder does not: a store's
// "Notes/x.md" is the local "notes/x.md". Writes must go to what exists.
namespace brindle::PathCase {

// rel ("/" separators, relative to root) with each component that does not
// exist under its parent as written replaced by an existing entry of the same
// path key (the first in byte order when there are several); components from
// the first one that has no such entry on are kept as written. Reads folders
// only; a folder that cannot be read keeps the rest as written.
std::string resolve(const std::filesystem::path& root, const std::string& rel);

// rel with its folders resolved as resolve does and its last component (the
// file's name) kept as written: for a new file whose key the caller knows is
// not there yet. Reads a folder only where a folder on the way is missing as
// written, so writing many new files into one folder stays linear.
std::string resolveFolders(const std::filesystem::path& root, const std::string& rel);

// The entry of the open folder whose path key is name's (the first in byte
// order when there are several), or nothing, also when it cannot be read.
std::optional<std::string> entryIn(int folder, const std::string& name);

// resolve, remembering what each folder read holds for as long as the folder
// shows the same times, device and inode, and only when its last change was
// already settledNs old when it was read (a change within the same tick of
// the clock could leave its time as it was; two seconds covers FAT). Many
// lookups in a folder nobody writes to then read it once instead of once
// each. Safe to share between threads.
class Folders {
public:
    explicit Folders(int64_t settledNs = TreeWalk::ListingCache::kGranularityNs) : settledNs_(settledNs) {}
    std::string resolve(const std::filesystem::path& root, const std::string& rel);
    void clear();

private:
    struct Stamp {
        int64_t mtimeNs = 0;
        int64_t ctimeNs = 0;
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Read {
        Stamp stamp;
        std::unordered_map<std::string, std::string> names;  // key -> the least name with it
    };
    std::optional<std::string> entryWithKey(const std::filesystem::path& folder, const std::string& key);

    const int64_t settledNs_;
    std::mutex lock_;
    std::map<std::string, Read> folders_;  // settled folders, by path
};

}  // namespace brindle::PathCase
