#pragma once

#include <string>
#include <string_view>
#include <vector>

// Names that are never synced, one list for every store.
namespace brindle::IgnoredNames {

// The patterns that no store ever holds: system and desktop litter (".DS_Store",
// "Thumbs"-like caches, editor swap, backup and lock files, NFS and GIO
// leftovers), in the order the git store writes them to its exclude file.
const std::vector<std::string>& littered();

// true when a file or folder of this name (the last path component) is never
// synced by the reconciler: the littered() names, trash folders and our own
// ".brindle-tmp-" files. A matching folder is skipped with everything in it.
// Matched with fnmatch, no flags.
bool matches(std::string_view name);

// true when any "/"-separated component of path matches.
bool anyComponentMatches(std::string_view path);

// true when name is one of our temporary files (".brindle-tmp-" prefix).
bool isTemporary(std::string_view name);

}  // namespace brindle::IgnoredNames
