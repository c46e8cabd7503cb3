#pragma once

#include "service/Brindle.h"

#include <cstdint>
#include <filesystem>
#include <string>

// Turns a plugged-in volume into one of the user's drives.
namespace brindle::DriveRegistration {

// Gives the volume at root a lasting identifier (its marker, written only
// when it has none), creates its "Larder" folder and registers it with the
// service under label. Returns the drive identifier. The marker is written
// before the service is asked, so a retry after a failed registration
// reuses the same identifier.
//
// Throws brindle::Error when root is not a folder or the marker or folder
// cannot be written (nothing is sent then); Brindle::Failure::signedOut() on
// 401; DropboxFailure with "You already have the most drives Brindle can
// keep..." on 409 too_many_drives and "Brindle couldn't add the drive (HTTP
// N)." on any other status but 200; HTTP::TransportError without an answer.
// (Named registerDrive, as "register" is a C++ keyword.)
std::string registerDrive(const std::filesystem::path& root, const std::string& label, const Brindle::Account& account);

// The number of regular files in root's "Larder" folder and below (hidden
// files included, folders not counted); 0 when it does not exist or cannot
// be walked.
int64_t existingFiles(const std::filesystem::path& root);

}  // namespace brindle::DriveRegistration
