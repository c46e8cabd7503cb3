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

std::string resolveUpTo(const std::filesystem::path& root, const std::string& rel, bool name) {
    std::vector<std::string> parts = Text::split(rel, '/');
    while (!name && !parts.empty() && parts.back().empty()) parts.pop_back();
    std::filesystem::path at = root;
    std::string resolved;
    bool mapping = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string& part = parts[i];
        if (part.empty()) continue;
        if (mapping && (name || i + 1 < parts.size())) {
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

}  // namespace

std::string resolve(const std::filesystem::path& root, const std::string& rel) {
    return resolveUpTo(root, rel, true);
}

std::string resolveFolders(const std::filesystem::path& root, const std::string& rel) {
    return resolveUpTo(root, rel, false);
}

}  // namespace brindle::PathCase
