#pragma once

#include <cstddef>
#include <filesystem>

namespace brindle {

// A hash of every item below folder: its relative path, size and modification
// time (to the nanosecond), with one lstat per file (folders need none);
// symbolic links are not followed. Only compared within one process, to notice a folder that changed
// while the stores ran. A missing or unreadable folder hashes as empty.
size_t fingerprint(const std::filesystem::path& folder);

}  // namespace brindle
