#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace brindle::ConflictName {

// The local time as "yyyy-MM-dd HHmm", e.g. "2026-03-07 0915".
std::string stamp(std::time_t when);

// The name for the other side's version of relativePath when both sides
// changed it: "plan (conflict from DEVICE STAMP).md", then " 2)", " 3)" ...
// until no file of that name exists under folder. A "/" in device becomes
// "-" so a device name cannot add folder levels. The extension is the text
// after the last "." of the last component; dot-files have none.
std::string make(const std::filesystem::path& folder, const std::string& relativePath, const std::string& device,
                 const std::string& stamp);

// The conflict copies of relativePath that exist under folder, from any
// device at any time: the names make() could have given it (relative paths,
// sorted). None when the folder cannot be listed.
std::vector<std::string> existing(const std::filesystem::path& folder, const std::string& relativePath);

}  // namespace brindle::ConflictName
