#include "drives/Volumes.h"

#include "common/Files.h"
#include "common/Text.h"
#include "drives/DriveMarker.h"

#include <algorithm>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::Volumes {

namespace fs = std::filesystem;

namespace {

std::string userName() {
    if (std::optional<std::string> user = Files::env("USER"); user && !user->empty()) return *user;
    if (const passwd* entry = ::getpwuid(::getuid())) return entry->pw_name;
    return "";
}

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string unescape(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            bool octal = true;
            for (size_t k = 1; k <= 3; ++k) {
                if (i + k >= field.size() || field[i + k] < '0' || field[i + k] > '7') octal = false;
                else value = value * 8 + (field[i + k] - '0');
            }
            if (octal) {
                text += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        text += field[i];
    }
    return text;
}

struct Mount {
    std::string devNumber;  // "major:minor"
    std::string point;
    std::string source;
};

std::optional<Mount> mountAt(const std::string& mountinfo, const fs::path& path) {
    std::optional<Mount> found;
    std::istringstream lines(mountinfo);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, parent, number, root, point, field;
        if (!(fields >> id >> parent >> number >> root >> point)) continue;
        if (fs::path(unescape(point)).lexically_normal() != path) continue;
        while (fields >> field && field != "-") {}
        std::string type, source;
        fields >> type >> source;
        found = Mount{number, unescape(point), source};  // the last mount over a point wins
    }
    return found;
}

// The kernel's folder of the whole disk behind a mount, or nothing.
std::optional<fs::path> diskFolder(const Mount& mount, const fs::path& sysRoot) {
    std::error_code error;
    fs::path device;
    if (Text::startsWith(mount.source, "/dev/"))
        device = fs::canonical(sysRoot / "class/block" / fs::path(mount.source).filename(), error);
    if (device.empty() || error) {
        error.clear();
        device = fs::canonical(sysRoot / "dev/block" / mount.devNumber, error);
    }
    if (device.empty() || error) return std::nullopt;
    if (fs::exists(device / "partition", error)) device = device.parent_path();
    return device;
}

}  // namespace

std::vector<fs::path> parents() {
    std::vector<fs::path> folders;
    if (std::optional<std::string> listed = Files::env("LARDER_VOLUMES")) {
        for (const std::string& piece : Text::split(*listed, ':'))
            if (!piece.empty()) folders.emplace_back(piece);
        return folders;
    }
    std::string user = userName();
    if (user.empty()) return folders;  // "/media" itself holds users, not volumes
    folders.push_back(fs::path("/media") / user);
    folders.push_back(fs::path("/run/media") / user);
    return folders;
}

std::vector<fs::path> mounted() {
    std::vector<fs::path> volumes;
    for (const fs::path& parent : parents()) {
        std::vector<fs::path> found;
        std::error_code error;
        for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
            std::string name = it->path().filename().string();
            if (name.empty() || name[0] == '.') continue;
            std::error_code statError;
            if (it->is_directory(statError)) found.push_back(it->path());
        }
        std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) { return a.string() < b.string(); });
        volumes.insert(volumes.end(), found.begin(), found.end());
    }
    return volumes;
}

bool isSystemVolume(const fs::path& path, const std::string& mountinfo, const fs::path& sysRoot) {
    fs::path normal = path.lexically_normal();
    std::optional<Mount> mount = mountAt(mountinfo, normal);
    if (!mount) {
        // Not a mount of its own: a plain folder on whatever holds its parent.
        struct stat volume {}, root {};
        return ::stat(normal.c_str(), &volume) == 0 && ::stat("/", &root) == 0 && volume.st_dev == root.st_dev;
    }
    if (mount->point == "/") return true;
    std::optional<fs::path> disk = diskFolder(*mount, sysRoot);
    if (!disk) return false;
    std::optional<std::string> removable = Files::read(*disk / "removable");
    if (!removable || Text::trim(*removable) != "0") return false;
    // USB disks in enclosures often say they are not removable; their place
    // on the bus tells the truth.
    return disk->string().find("/usb") == std::string::npos;
}

std::vector<fs::path> candidates(const std::set<std::string>& excluded) {
    bool listed = Files::env("LARDER_VOLUMES").has_value();
    std::string mountinfo = listed ? "" : Files::read("/proc/self/mountinfo").value_or("");
    std::vector<fs::path> offered;
    for (const fs::path& volume : mounted()) {
        std::optional<std::string> id = DriveMarker::read(volume);
        if (id && excluded.count(*id)) continue;
        if (!listed && isSystemVolume(volume, mountinfo, "/sys")) continue;
        offered.push_back(volume);
    }
    return offered;
}

}  // namespace brindle::Volumes
