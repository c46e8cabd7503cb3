#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "threeway/ListingCache.h"

namespace brindle {
class IgnoreRules;
}

namespace brindle::TreeWalk {

struct File {
    std::string_view path;  // relative to the root, "/" separators; held by the walk's Paths
    int64_t size = 0;
    int64_t mtimeNs = 0;
};

// The paths of a walk's files, packed into blocks that never move: a large
// tree's paths cost their bytes, not a string each.
class Paths {
public:
    std::string_view add(std::string_view path);

private:
    static constexpr size_t kBlockBytes = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t blockBytes_ = 0;  // the size of the last block
    size_t used_ = 0;        // and how much of it is taken
};

struct Unreadable {
    std::string path;  // a folder below the root that could not be listed
    int error = 0;     // its errno
};

struct Result {
    // Regular files, sorted by path (byte order). A deque, so that a caller
    // going through a large tree's files can let go of those it has taken.
    std::deque<File> files;
    Paths paths;  // where the files' paths are held
    std::vector<Unreadable> unreadable;
};

// Every regular file under root, hidden ones included, found with one
// directory read and one lstat per entry. Items whose name is never synced
// are dropped, folders with all they hold; symbolic links are never followed
// and never listed. Our own temporary files whose modification time lies
// more than staleAfter seconds before now are left behind by a killed
// process: they are removed on the way (all of them when staleAfter is 0 or
// less, for a caller that knows no other process is writing under root). Throws brindle::Error naming root
// when root itself cannot be listed completely (opening or reading it fails,
// or an entry in it cannot be examined for any reason but "no such file").
// Such a failure below the root lists that folder in `unreadable` instead.
// With a cache, folders it trusts are not read again (their items are still
// examined), and a complete walk leaves what it saw in it for the next one.
// A folder that rules (when given) ignore is not entered.
Result walk(const std::filesystem::path& root, double now, double staleAfter, ListingCache* cache = nullptr,
            const IgnoreRules* rules = nullptr);

}  // namespace brindle::TreeWalk
