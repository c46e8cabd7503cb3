#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brindle::DropboxHash {

// Dropbox's content hash of a file: the SHA-256 of the concatenated SHA-256
// digests of its 4 MiB blocks, as 64 lower-case hex characters. Memory use is
// one block. Throws brindle::Error naming the file when it cannot be read.
std::string of(const std::filesystem::path& file);

// The same hash of the open file fd from its start (read with pread, so its
// position stays); name is the file's name in the error thrown.
std::string ofOpen(int fd, const std::string& name);

// The same hash of bytes held in memory (for stand-ins and tests).
std::string ofBytes(std::string_view bytes);

inline constexpr size_t kBlockSize = 4 * 1024 * 1024;

}  // namespace brindle::DropboxHash
