#pragma once

#include <string_view>

namespace brindle::IgnoredNames {

// true when a file or folder of this name (the last path component) is never
// synced: system litter (".DS_Store", "Thumbs"-like caches, editor swap and
// lock files, trash folders) and our own ".brindle-tmp-" files. A matching
// folder is skipped with everything in it. Matched with fnmatch, no flags.
bool matches(std::string_view name);

// true when any "/"-separated component of path matches.
bool anyComponentMatches(std::string_view path);

// true when name is one of our temporary files (".brindle-tmp-" prefix).
bool isTemporary(std::string_view name);

}  // namespace brindle::IgnoredNames
