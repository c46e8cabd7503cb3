#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The small file by which a registered drive names itself: ".brindle-larder"
// at the volume root, a JSON object {"v": 1, "drive_id": "<lower-case UUID>",
// "created": "<ISO 8601 UTC>"}. Readers use only "drive_id".
namespace brindle::DriveMarker {

inline constexpr const char* kFileName = ".brindle-larder";
// A marker larger than this is not one of ours.
inline constexpr long kMaxBytes = 4096;

// The marker's "drive_id" text, or nothing when there is no marker or it is
// not a regular file of at most kMaxBytes (links are not followed, and a FIFO
// or device never blocks the read), unreadable, not JSON, or has no
// "drive_id" in lower-case UUID form.
std::optional<std::string> read(const std::filesystem::path& root);

// Writes a new marker naming id at root, atomically. Throws brindle::Error
// with the file system's text when it cannot be written.
void write(const std::filesystem::path& root, const std::string& id);

}  // namespace brindle::DriveMarker
