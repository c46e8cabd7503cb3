#pragma once

#include <filesystem>
#include <string>

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

}  // namespace brindle::PathCase
