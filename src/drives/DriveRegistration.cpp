#include "drives/DriveRegistration.h"

#include "common/Error.h"
#include "common/Files.h"
#include "drives/DriveMarker.h"
#include "threeway/DropboxFailure.h"

namespace brindle::DriveRegistration {

namespace fs = std::filesystem;

std::string registerDrive(const fs::path& root, const std::string& label, const Brindle::Account& account) {
    std::error_code error;
    if (!fs::is_directory(root, error)) throw Error(root.string() + " isn't a folder.");
    std::optional<std::string> id = DriveMarker::read(root);
    if (!id) {
        id = Files::newUUID();
        DriveMarker::write(root, *id);
    }
    fs::create_directories(root / "Larder", error);
    if (error) throw Error("Could not create " + (root / "Larder").string() + ": " + error.message());

    Brindle::Answer answer = Brindle::api("POST", "/api/v1/drives", account, nlohmann::json{{"drive_id", *id}, {"label", label}});
    if (answer.status == 200) return *id;
    if (answer.status == 401) throw Brindle::Failure::signedOut();
    if (answer.status == 409 && answer.error() == "too_many_drives")
        throw DropboxFailure::message(
            "You already have the most drives Brindle can keep. Remove one on the Connections page first.");
    throw DropboxFailure::message("Brindle couldn't add the drive (HTTP " + std::to_string(answer.status) + ").");
}

int64_t existingFiles(const fs::path& root) {
    int64_t count = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root / "Larder", error), end; !error && it != end; it.increment(error)) {
        std::error_code statError;
        if (it->symlink_status(statError).type() == fs::file_type::regular) ++count;
    }
    return count;
}

}  // namespace brindle::DriveRegistration
