#include "engine/Fingerprint.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace brindle {

namespace {

// Appends one "path|size|mtime" line per item below the open folder fd.
// Takes ownership of fd.
void listInto(int fd, const std::string& prefix, std::vector<std::string>& lines) {
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        std::string relative = prefix + name;
        struct stat info {};
        long long size = 0;
        char stamp[48] = "0";
        if (::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            size = static_cast<long long>(info.st_size);
            std::snprintf(stamp, sizeof stamp, "%lld.%09ld", static_cast<long long>(info.st_mtim.tv_sec),
                          static_cast<long>(info.st_mtim.tv_nsec));
        }
        bool isFolder = entry->d_type == DT_DIR || (entry->d_type == DT_UNKNOWN && S_ISDIR(info.st_mode));
        lines.push_back(relative + "|" + std::to_string(isFolder ? 0 : size) + "|" + stamp);
        if (isFolder) {
            int child = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) listInto(child, relative + "/", lines);
        }
    }
    ::closedir(dir);
}

}  // namespace

size_t fingerprint(const std::filesystem::path& folder) {
    std::vector<std::string> lines;
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) listInto(fd, "", lines);
    std::sort(lines.begin(), lines.end());
    std::hash<std::string> hasher;
    size_t hash = std::hash<size_t>{}(lines.size());
    for (const auto& line : lines) hash = hash * 1099511628211ULL ^ hasher(line);
    return hash;
}

}  // namespace brindle
