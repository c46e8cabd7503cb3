#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The small file by which a registered drive names itself: ".brindle-larder"
// at the volume root, a JSON object {"v": 1, "drive_id": "<lower-case UUID>",
// "created": "<ISO 8601 UTC>"}. Readers use only "drive_id".
namespace brindle::DriveMarker {

inline constexpr const char* kFileName = ".brindle-larder";

// The marker's "drive_id" text, or nothing when there is no marker or it is
// unreadable, not JSON, or has no text "drive_id".
std::optional<std::string> read(const std::filesystem::path& root);

// Writes a new marker naming id at root, atomically. Throws brindle::Error
// with the file system's text when it cannot be written.
void write(const std::filesystem::path& root, const std::string& id);

}  // namespace brindle::DriveMarker
