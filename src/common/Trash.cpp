#include "common/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>

#include "common/Files.h"
#include "common/Text.h"

namespace brindle::Trash {

namespace fs = std::filesystem;

namespace {

struct Place {
    fs::path trash;   // the folder holding "files" and "info"
    fs::path topdir;  // where Path is relative to; empty: Path is absolute
};

std::optional<dev_t> deviceOf(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return info.st_dev;
}

// The device of the nearest folder at or above path that exists.
std::optional<dev_t> deviceAbove(fs::path path) {
    while (true) {
        if (auto device = deviceOf(path)) return device;
        if (path == path.root_path() || path.empty()) return std::nullopt;
        path = path.parent_path();
    }
}

// The highest folder above file that is still on file's device.
fs::path topOf(const fs::path& file, dev_t device) {
    fs::path top = file.parent_path();
    while (top != top.root_path()) {
        std::optional<dev_t> above = deviceOf(top.parent_path());
        if (!above || *above != device) break;
        top = top.parent_path();
    }
    return top;
}

// Makes folder (mode 0700) unless it is there; it must be a real folder of ours.
bool ownFolder(const fs::path& folder, std::string& reason) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        reason = "can't create " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        reason = folder.string() + " is not a folder of this user";
        return false;
    }
    return true;
}

std::optional<Place> placeFor(const fs::path& file, std::string& reason) {
    std::optional<dev_t> device = deviceOf(file);
    if (!device) {
        reason = std::strerror(errno);
        return std::nullopt;
    }
    fs::path home = Files::xdgDir("XDG_DATA_HOME", ".local/share") / "Trash";
    if (deviceAbove(home) == device) {
        std::error_code error;
        fs::create_directories(home, error);
        ::chmod(home.c_str(), 0700);
        return Place{home, {}};
    }
    fs::path top = topOf(file, *device);
    return Place{top / (".Trash-" + std::to_string(::getuid())), top};
}

std::string infoText(const fs::path& file, const Place& place) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::string path = place.topdir.empty() ? file.string() : file.lexically_relative(place.topdir).string();
    return "[Trash Info]\nPath=" + Text::percentEncoded(path, "/") + "\nDeletionDate=" + date + "\n";
}

// Claims a name in info/ with an exclusive create and writes the info there;
// returns the name, or nothing with the reason. A name whose file is already
// in files/ (an info lost by another program) is passed over.
std::optional<std::string> claimName(const Place& place, const std::string& base, const std::string& text,
                                     std::string& reason) {
    for (int n = 1; n < 10000; ++n) {
        std::string name = n == 1 ? base : base + "." + std::to_string(n);
        fs::path info = place.trash / "info" / (name + ".trashinfo");
        int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        int failure = errno;
        if (fd >= 0 && ::close(fd) != 0 && written) {
            written = false;
            failure = errno;
        }
        if (!written) {
            if (fd >= 0) ::unlink(info.c_str());
            reason = "can't write in " + (place.trash / "info").string() + ": " + std::strerror(failure);
            return std::nullopt;
        }
        struct stat taken {};
        if (::lstat((place.trash / "files" / name).c_str(), &taken) != 0) return name;
        ::unlink(info.c_str());
    }
    reason = "no free name in " + place.trash.string();
    return std::nullopt;
}

}  // namespace

Outcome put(const fs::path& path) {
    Outcome outcome;
    const fs::path file = fs::absolute(path).lexically_normal();
    std::optional<Place> place = placeFor(file, outcome.reason);
    if (!place) return outcome;
    for (const fs::path& folder : {place->trash, place->trash / "files", place->trash / "info"})
        if (!ownFolder(folder, outcome.reason)) return outcome;
    std::optional<std::string> name =
        claimName(*place, file.filename().string(), infoText(file, *place), outcome.reason);
    if (!name) return outcome;
    fs::path where = place->trash / "files" / *name;
    if (::rename(file.c_str(), where.c_str()) != 0) {
        outcome.reason = std::strerror(errno);
        ::unlink((place->trash / "info" / (*name + ".trashinfo")).c_str());
        return outcome;
    }
    outcome.trashed = true;
    outcome.where = where;
    return outcome;
}

}  // namespace brindle::Trash
