#include "drives/DriveMarker.h"

#include "common/Files.h"
#include "common/IsoDate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

namespace brindle::DriveMarker {

namespace {

// The marker's bytes when it is a small regular file. The volume is not ours
// to trust: a link is not followed, a FIFO or device does not block or feed
// us endless bytes.
std::optional<std::string> readSmallFile(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxBytes) {
        std::string read(static_cast<size_t>(kMaxBytes) + 1, '\0');
        size_t got = 0;
        while (got < read.size()) {
            ssize_t now = ::read(fd, read.data() + got, read.size() - got);
            if (now < 0 && errno == EINTR) continue;
            if (now <= 0) break;
            got += static_cast<size_t>(now);
        }
        if (got <= static_cast<size_t>(kMaxBytes)) bytes = read.substr(0, got);
    }
    ::close(fd);
    return bytes;
}

}  // namespace

std::optional<std::string> read(const std::filesystem::path& root) {
    std::optional<std::string> bytes = readSmallFile(root / kFileName);
    if (!bytes) return std::nullopt;
    nlohmann::json marker = nlohmann::json::parse(*bytes, nullptr, false);
    if (!marker.is_object()) return std::nullopt;
    auto id = marker.find("drive_id");
    if (id == marker.end() || !id->is_string() || !Files::isLowerUUID(id->get<std::string>())) return std::nullopt;
    return id->get<std::string>();
}

void write(const std::filesystem::path& root, const std::string& id) {
    nlohmann::json marker = {{"v", 1}, {"drive_id", id}, {"created", IsoDate::formatSeconds(IsoDate::nowSeconds())}};
    Files::writeAtomically(root / kFileName, marker.dump());
}

}  // namespace brindle::DriveMarker
