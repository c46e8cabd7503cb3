#include "engine/Fingerprint.h"

#include "common/FolderReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>

namespace brindle {

namespace {

// splitmix64's finaliser: spreads every input bit over the whole word.
uint64_t mix(uint64_t value) {
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

struct Tally {
    uint64_t count = 0;
    uint64_t sum = 0;  // order-free: the listing's order does not matter, so nothing is sorted
};

// Adds one entry per item below the open folder fd, whose path hashes to
// folderHash. Takes ownership of fd.
void tallyFolder(int fd, uint64_t folderHash, Tally& tally) {
    FolderReader reader(fd);
    FolderReader::Entry entry{};
    while (reader.next(entry)) {
        // The path's hash chains the folder's hash with the name, so equal
        // names in different folders differ.
        uint64_t pathHash = mix(folderHash ^ std::hash<std::string_view>{}(entry.name));
        bool isFolder = entry.type == DT_DIR;
        uint64_t size = 0, seconds = 0, nanoseconds = 0;
        if (!isFolder) {
            struct stat info {};
            if (::fstatat(reader.fd(), entry.name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
                isFolder = S_ISDIR(info.st_mode);
                size = isFolder ? 0 : static_cast<uint64_t>(info.st_size);
                seconds = static_cast<uint64_t>(info.st_mtim.tv_sec);
                nanoseconds = static_cast<uint64_t>(info.st_mtim.tv_nsec);
            }
        }
        tally.count += 1;
        tally.sum += mix(pathHash ^ mix(size ^ mix(seconds ^ mix(nanoseconds ^ (isFolder ? 1 : 0)))));
        if (isFolder) {
            int child = ::openat(reader.fd(), entry.name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) tallyFolder(child, pathHash, tally);
        }
    }
}

}  // namespace

size_t fingerprint(const std::filesystem::path& folder) {
    Tally tally;
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) tallyFolder(fd, 0, tally);
    return static_cast<size_t>(mix(tally.count) ^ tally.sum);
}

}  // namespace brindle
