#include "threeway/PathCase.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "common/Text.h"
#include "threeway/RemoteStore.h"

namespace brindle::PathCase {

namespace {

// The entry of folder whose path key is key, preferring the least name.
std::optional<std::string> entryWithKey(const std::filesystem::path& folder, const std::string& key) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> found;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || !Text::isValidUTF8(name) || pathKey(name) != key) continue;
        if (!found || name < *found) found = name;
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::string resolve(const std::filesystem::path& root, const std::string& rel) {
    std::vector<std::string> parts = Text::split(rel, '/');
    std::filesystem::path at = root;
    std::string resolved;
    bool mapping = true;
    for (std::string& part : parts) {
        if (part.empty()) continue;
        if (mapping) {
            struct stat info {};
            if (::lstat((at / part).c_str(), &info) != 0 && errno == ENOENT) {
                std::optional<std::string> existing = entryWithKey(at, pathKey(part));
                if (existing)
                    part = *existing;
                else
                    mapping = false;
            }
            at /= part;
        }
        resolved += (resolved.empty() ? "" : "/") + part;
    }
    return resolved;
}

}  // namespace brindle::PathCase
