#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brindle {

// One completed file operation of a sync run. kind is "uploaded",
// "downloaded", "deleted" or "conflict"; path is relative to the Larder folder
// with "/" separators.
struct SyncEvent {
    std::string kind;
    std::string path;
    int64_t bytes = 0;

    bool operator==(const SyncEvent&) const = default;
};

// Every syncer keeps at most this many events between collections.
inline constexpr size_t kMaxHeldEvents = 200;

}  // namespace brindle
