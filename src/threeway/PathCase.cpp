#include "threeway/PathCase.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>

#include "common/Files.h"
#include "common/Text.h"
#include "threeway/RemoteStore.h"

namespace brindle::PathCase {

namespace {

using Lookup = std::function<std::optional<std::string>(const std::filesystem::path&, const std::string&)>;

using Each = std::function<void(std::string&& name, std::string&& key)>;

// Each entry of dir with a name we can take, with its key; closes dir.
void eachEntryOf(DIR* dir, const Each& each) {
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || !Text::isValidUTF8(name)) continue;
        std::string key = pathKey(name);
        each(std::move(name), std::move(key));
    }
    ::closedir(dir);
}

// Each entry of folder with a name we can take, with its key; false when the
// folder cannot be read.
bool eachEntry(const std::filesystem::path& folder, const Each& each) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    eachEntryOf(dir, each);
    return true;
}

// The entry of dir whose path key is key, preferring the least name; closes dir.
std::optional<std::string> leastWithKey(DIR* dir, const std::string& key) {
    std::optional<std::string> found;
    eachEntryOf(dir, [&](std::string&& name, std::string&& itsKey) {
        if (itsKey == key && (!found || name < *found)) found = std::move(name);
    });
    return found;
}

// The entry of folder whose path key is key, preferring the least name.
std::optional<std::string> entryWithKey(const std::filesystem::path& folder, const std::string& key) {
    DIR* dir = ::opendir(folder.c_str());
    return dir ? leastWithKey(dir, key) : std::nullopt;
}

std::string resolveUpTo(const std::filesystem::path& root, const std::string& rel, bool name, const Lookup& lookup) {
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
                std::optional<std::string> existing = lookup(at, pathKey(part));
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
    return resolveUpTo(root, rel, true, entryWithKey);
}

std::optional<std::string> entryIn(int folder, const std::string& name) {
    int own = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* dir = own >= 0 ? ::fdopendir(own) : nullptr;
    if (!dir) {
        if (own >= 0) ::close(own);
        return std::nullopt;
    }
    ::rewinddir(dir);  // the copy shares the original's position
    return leastWithKey(dir, pathKey(name));
}

std::string resolveFolders(const std::filesystem::path& root, const std::string& rel) {
    return resolveUpTo(root, rel, false, entryWithKey);
}

std::string Folders::resolve(const std::filesystem::path& root, const std::string& rel) {
    return resolveUpTo(root, rel, true, [this](const std::filesystem::path& folder, const std::string& key) {
        return entryWithKey(folder, key);
    });
}

void Folders::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    folders_.clear();
}

std::optional<std::string> Folders::entryWithKey(const std::filesystem::path& folder, const std::string& key) {
    auto stampOf = [&folder]() -> std::optional<Stamp> {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0) return std::nullopt;
        return Stamp{Files::mtimeNs(info), Files::ctimeNs(info), info.st_dev, info.st_ino};
    };
    std::optional<Stamp> before = stampOf();
    if (!before) return std::nullopt;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto known = folders_.find(folder.native());
        if (known != folders_.end()) {
            const Read& read = known->second;
            if (read.stamp == *before) {
                auto at = read.names.find(key);
                return at != read.names.end() ? std::optional<std::string>(at->second) : std::nullopt;
            }
            folders_.erase(known);
        }
    }
    const int64_t now = Files::clockNs();
    Read read{*before, {}};
    bool listed = eachEntry(folder, [&](std::string&& name, std::string&& itsKey) {
        auto [at, added] = read.names.try_emplace(std::move(itsKey), name);
        if (!added && name < at->second) at->second = std::move(name);
    });
    std::optional<std::string> found;
    if (auto at = read.names.find(key); at != read.names.end()) found = at->second;
    bool settled = listed && stampOf() == read.stamp && now - read.stamp.mtimeNs >= settledNs_ &&
                   now - read.stamp.ctimeNs >= settledNs_;
    if (settled) {
        std::lock_guard<std::mutex> guard(lock_);
        folders_.insert_or_assign(folder.native(), std::move(read));
    }
    return found;
}

}  // namespace brindle::PathCase
