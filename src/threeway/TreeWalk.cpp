#include "threeway/TreeWalk.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/IgnoreRules.h"
#include "common/IgnoredNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace brindle::TreeWalk {

namespace {

class Walker {
public:
    Walker(double now, double staleAfter, const IgnoreRules* rules)
        : now_(now), staleAfter_(staleAfter), rules_(rules) {}

    Result result;

    // Lists the open folder fd (taken over) whose path is prefix.
    void folder(int fd, const std::string& prefix) {
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            unreadable(prefix, errno);
            return;
        }
        while (true) {
            errno = 0;
            dirent* entry = ::readdir(dir);
            if (!entry) {
                if (errno != 0) unreadable(prefix, errno);
                break;
            }
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            item(::dirfd(dir), name, entry->d_type, prefix);
        }
        ::closedir(dir);
    }

    // errno of the first failure to list the root itself (0: none).
    int rootError = 0;

private:
    // A folder whose listing is incomplete: what it holds is unknown, never
    // absent. prefix is the folder's path with its trailing "/" ("" for root).
    void unreadable(const std::string& prefix, int error) {
        if (prefix.empty()) {
            if (rootError == 0) rootError = error;
            return;
        }
        std::string path = prefix.substr(0, prefix.size() - 1);
        if (result.unreadable.empty() || result.unreadable.back().path != path)
            result.unreadable.push_back({path, error});
    }

    void item(int parent, const char* name, unsigned char type, const std::string& prefix) {
        if (IgnoredNames::matches(name)) {
            if (IgnoredNames::isTemporary(name)) removeIfStale(parent, name);
            return;
        }
        if (type == DT_LNK) return;
        if (type == DT_DIR) {
            subfolder(parent, name, prefix);
            return;
        }
        struct stat info {};
        if (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            // Gone meanwhile is fine; any other failure (no search permission,
            // a failing drive) leaves the folder's content unknown.
            if (errno != ENOENT) unreadable(prefix, errno);
            return;
        }
        if (S_ISDIR(info.st_mode))
            subfolder(parent, name, prefix);
        else if (S_ISREG(info.st_mode))
            result.files.push_back({prefix + name, info.st_size, Files::mtimeNs(info)});
    }

    void subfolder(int parent, const char* name, const std::string& prefix) {
        if (rules_ && rules_->ignores(prefix + name, true)) return;
        int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT && errno != ELOOP && errno != ENOTDIR)
                result.unreadable.push_back({prefix + name, errno});
            return;
        }
        folder(fd, prefix + name + "/");
    }

    // A temporary file that nothing has written to for a long time belongs
    // to a process that died before its rename.
    void removeIfStale(int parent, const char* name) {
        struct stat info {};
        if (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) return;
        if (staleAfter_ <= 0 || now_ - static_cast<double>(Files::mtimeNs(info)) / 1e9 > staleAfter_)
            ::unlinkat(parent, name, 0);
    }

    double now_;
    double staleAfter_;
    const IgnoreRules* rules_;
};

}  // namespace

Result walk(const std::filesystem::path& root, double now, double staleAfter, const IgnoreRules* rules) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw Error("Couldn't read " + root.string() + ": " + std::strerror(errno));
    Walker walker(now, staleAfter, rules);
    walker.folder(fd, "");
    // An incomplete listing of the root would make everything after the
    // failure look deleted.
    if (walker.rootError != 0) throw Error("Couldn't read " + root.string() + ": " + std::strerror(walker.rootError));
    std::sort(walker.result.files.begin(), walker.result.files.end(),
              [](const File& a, const File& b) { return a.path < b.path; });
    return std::move(walker.result);
}

}  // namespace brindle::TreeWalk
