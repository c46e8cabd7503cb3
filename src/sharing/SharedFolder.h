#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Getting files into the Larder folder so that they can be shared: a file
// inside the folder is shared where it is; a file from elsewhere is copied
// into the folder's "Shared" subfolder first.
namespace brindle::SharedFolder {

inline constexpr const char* kName = "Shared";

// The shared path of each file (its path relative to root, "/" separators),
// in order. Every file is checked before anything is copied: a missing path,
// a folder or anything else that is not a regular file throws
// Brindle::ShareFailure "not_a_file". Symbolic links are resolved in both
// the file's path and root's, so a file reached through a link into the
// folder is not copied. A copy never replaces an existing file: the name
// gets " (2)", " (3)", ... before its extension. Each copy keeps the
// source's modification time, but never newer than one minute before `now`,
// and is reported to `said` as "Copied NAME into your Larder (Shared/).".
// Copy failures throw brindle::Error naming the file; copies made before a
// failure stay.
std::vector<std::string> place(const std::vector<std::filesystem::path>& files, const std::filesystem::path& root,
                               const std::function<void(const std::string&)>& said,
                               std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

}  // namespace brindle::SharedFolder
