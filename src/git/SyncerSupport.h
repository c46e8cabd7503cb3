#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Names and small readers of git output shared by the parts of Syncer.
namespace brindle::SyncerSupport {

inline constexpr const char* kRemoteRef = "refs/remotes/origin/main";
// The id of git's empty tree: the "before" of a repository without commits.
inline constexpr const char* kEmptyTree = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
// Files of our own inside the repository directory (never ending in ".lock",
// which would make them look like git's own stale locks).
inline constexpr const char* kPassLockName = "brindle-sync-lock";
inline constexpr const char* kOperationName = "brindle-operation";

// One record of "--name-status -z" output; path is the last path (the new
// name of a rename or copy).
struct Record {
    std::string status;
    std::string path;
};

// Reads status fields followed by one path, or two when the status begins
// with "R" or "C". A truncated record at the end is dropped.
std::vector<Record> parseRecords(const std::vector<std::string>& fields);

// path -> size from "ls-tree -r -l -z" fields; entries without a numeric size
// (submodules show "-") are left out.
std::map<std::string, long long> treeSizes(const std::vector<std::string>& fields);

// The path of item relative to folder with "/" separators, or "" when item is
// not below folder.
std::string relativePath(const std::filesystem::path& folder, const std::filesystem::path& item);

// The size of a file, 0 when it cannot be read.
long long fileSize(const std::filesystem::path& path);

}  // namespace brindle::SyncerSupport
