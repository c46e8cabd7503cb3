#include "threeway/TreeWalk.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/FolderReader.h"
#include "common/IgnoreRules.h"
#include "common/IgnoredNames.h"
#include "common/Text.h"

#include <dirent.h>  // DT_*
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace brindle::TreeWalk {

namespace {

// A kernel (6.8 and later) gives every mount an id it never gives another.
constexpr unsigned kStatxMountUnique = 0x4000U;

// File systems whose folders change only through this kernel while mounted,
// which updates a folder's times on every change of its names. Network and
// user-space file systems may change behind its back.
bool localFileSystem(int fd) {
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
        case EXT4_SUPER_MAGIC:  // also ext2 and ext3
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case F2FS_SUPER_MAGIC:
        case MSDOS_SUPER_MAGIC:  // vfat
        case 0x2011BAB0UL:       // exfat
        case 0x7366746EUL:       // ntfs3
        case OVERLAYFS_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

// The id of the mount fd lies on, when the kernel never reuses them; 0 when
// it may (two mounts, one after the other, could then look like one). The
// kernel counts mounts afresh at each boot, so the id is taken together with
// the boot's: a drive changed on another computer and mounted again after a
// restart must not pass for the mount a listing was recorded on.
uint64_t uniqueMount(int fd) {
    static const std::string boot = Files::read("/proc/sys/kernel/random/boot_id").value_or("");
    struct statx info {};
    if (boot.empty() || ::statx(fd, "", AT_EMPTY_PATH, kStatxMountUnique, &info) != 0) return 0;
    if (!(info.stx_mask & kStatxMountUnique)) return 0;
    uint64_t id = Text::checksum(boot + " " + std::to_string(info.stx_mnt_id));
    return id == 0 ? 1 : id;
}

class Walker {
public:
    Walker(int root, double now, double staleAfter, ListingCache* cache, const IgnoreRules* rules)
        : root_(root), now_(now), staleAfter_(staleAfter), cache_(cache), rules_(rules) {}

    Result result;
    // Folders seen (each marked in the cache, which holds what the walk saw
    // of it) and of those the ones not read again.
    size_t seen = 0;
    size_t reused = 0;
    // errno of the first failure to list the root itself (0: none).
    int rootError = 0;

    void walkRoot() {
        struct stat info {};
        if (!cache_ || ::fstat(root_, &info) != 0) {
            read(::dup(root_), "", nullptr);
            return;
        }
        folder(info, "", [this] { return ::dup(root_); });
    }

private:
    using Names = ListingCache::Names;

    // The folder at prefix, whose own stat is info: its recorded names when
    // they can be trusted (each item then examined by its path from the
    // root, with no folder opened), else read afresh from open() (taken over).
    template <typename Open>
    void folder(const struct stat& info, const std::string& prefix, Open open) {
        ListingCache::Folder now{info.st_dev, info.st_ino, Files::mtimeNs(info), Files::ctimeNs(info), {}};
        // (Records made for the folders met below leave this one where it is.)
        if (auto known = cache_->find(prefix); known && trusted(*known, now)) {
            ++seen, ++reused;
            cache_->markSeen(*known);
            ListingCache::forEachName(
                known->names, [&](const char* name, unsigned char type) { item(root_, true, name, type, prefix); });
            return;
        }
        // A folder that cannot be opened is left unseen: its record goes.
        int fd = open();
        if (fd < 0) {
            int error = errno;
            if (error != ENOENT && error != ELOOP && error != ENOTDIR) unreadable(prefix, error);
            return;
        }
        ++seen;
        now.seen = true;
        read(fd, prefix, &now.names);
        now.names.shrink();
        cache_->replace(prefix) = std::move(now);
    }

    void read(int fd, const std::string& prefix, Names* names) {
        FolderReader reader(fd);
        FolderReader::Entry entry{};
        while (reader.next(entry)) {
            if (names) names->add(entry.name, entry.type);
            item(reader.fd(), false, entry.name, entry.type, prefix);
        }
        if (reader.error() != 0) unreadable(prefix, reader.error());
    }

    // Whether the recorded names of a folder (was) hold, as nothing can
    // have changed them since they were read: same folder, same times, and those
    // times old enough at that read that a later change must have moved them.
    bool trusted(const ListingCache::Recorded& was, const ListingCache::Folder& now) const {
        if (was.device != now.device || was.inode != now.inode || was.mtimeNs != now.mtimeNs ||
            was.ctimeNs != now.ctimeNs)
            return false;
        int64_t settled = cache_->walkStartNs - ListingCache::kGranularityNs;
        return was.mtimeNs < settled && was.ctimeNs < settled;
    }

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

    // The item name in the folder at prefix; parent is that folder, or the
    // root when fromRoot (then the item is reached by its whole path).
    void item(int parent, bool fromRoot, const char* name, unsigned char type, const std::string& prefix) {
        if (IgnoredNames::matches(name)) {
            if (IgnoredNames::isTemporary(name)) removeIfStale(parent, fromRoot ? (prefix + name).c_str() : name);
            return;
        }
        if (type == DT_LNK) return;
        std::string path = prefix + name;
        const char* at = fromRoot ? path.c_str() : name;
        if (type == DT_DIR && !cache_) {
            subfolder(parent, at, path);
            return;
        }
        struct stat info {};
        if (::fstatat(parent, at, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            // Gone meanwhile is fine; any other failure (no search permission,
            // a failing drive) leaves the folder's content unknown.
            if (errno != ENOENT) unreadable(prefix, errno);
            return;
        }
        if (S_ISDIR(info.st_mode)) {
            if (!cache_)
                subfolder(parent, at, path);
            else if (!rules_ || !rules_->ignores(path, true))
                folder(info, path + "/", [&] { return openFolder(parent, at); });
        } else if (S_ISREG(info.st_mode)) {
            result.files.push_back({result.paths.add(path), info.st_size, Files::mtimeNs(info)});
        }
    }

    // Without a cache a folder needs no stat of its own: open and read it.
    void subfolder(int parent, const char* at, const std::string& path) {
        if (rules_ && rules_->ignores(path, true)) return;
        int fd = openFolder(parent, at);
        if (fd < 0) {
            if (errno != ENOENT && errno != ELOOP && errno != ENOTDIR) result.unreadable.push_back({path, errno});
            return;
        }
        read(fd, path + "/", nullptr);
    }

    static int openFolder(int parent, const char* at) {
        return ::openat(parent, at, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }

    // A temporary file that nothing has written to for a long time belongs
    // to a process that died before its rename.
    void removeIfStale(int parent, const char* name) {
        struct stat info {};
        if (::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) return;
        if (staleAfter_ <= 0 || now_ - static_cast<double>(Files::mtimeNs(info)) / 1e9 > staleAfter_)
            ::unlinkat(parent, name, 0);
    }

    int root_;
    double now_;
    double staleAfter_;
    ListingCache* cache_;
    const IgnoreRules* rules_;
};

// Keeps what a walk saw for the next one. Only a complete walk is worth
// trusting; one that read no folder and saw the same folders leaves the
// cache as it was, apart from its start (the older start is the stricter).
void record(ListingCache& cache, Walker& walker, size_t known, int64_t start, uint64_t mount) {
    bool complete = walker.rootError == 0 && walker.result.unreadable.empty();
    bool same = complete && cache.mount == mount && walker.reused == walker.seen && walker.seen == known;
    cache.changed = cache.changed || !same;
    if (!complete) cache.clear();
    // Folders gone since the last walk go; the marks are cleared for the next.
    cache.keepSeen();
    if (!same) cache.walkStartNs = start;
    cache.mount = mount;
    cache.reused = walker.reused;
    cache.readSinceSaved += walker.seen - walker.reused;
}

}  // namespace

std::string_view Paths::add(std::string_view path) {
    if (blockBytes_ - used_ < path.size()) {
        blockBytes_ = std::max(kBlockBytes, path.size());
        blocks_.push_back(std::unique_ptr<char[]>(new char[blockBytes_]));
        used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    std::memcpy(at, path.data(), path.size());
    used_ += path.size();
    return {at, path.size()};
}

Result walk(const std::filesystem::path& root, double now, double staleAfter, ListingCache* cache,
            const IgnoreRules* rules) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw Error("Couldn't read " + root.string() + ": " + std::strerror(errno));
    int64_t start = Files::clockNs();
    bool local = cache && localFileSystem(fd);
    uint64_t mount = local ? uniqueMount(fd) : 0;
    if (cache && (!local || mount != cache->mount)) {
        // Another mount, or one that may change behind our back: nothing
        // recorded says what its folders hold now.
        cache->changed = cache->changed || !cache->empty();
        cache->clear();
    }
    size_t known = cache ? cache->size() : 0;
    Walker walker(fd, now, staleAfter, local ? cache : nullptr, rules);
    try {
        walker.walkRoot();
    } catch (...) {
        // Records changed halfway (a folder's new times beside part of its
        // names) must never be trusted: start the cache afresh.
        ::close(fd);
        if (cache) cache->clear(), cache->changed = true;
        throw;
    }
    ::close(fd);
    if (local) record(*cache, walker, known, start, mount);
    // An incomplete listing of the root would make everything after the
    // failure look deleted.
    if (walker.rootError != 0) throw Error("Couldn't read " + root.string() + ": " + std::strerror(walker.rootError));
    std::sort(walker.result.files.begin(), walker.result.files.end(),
              [](const File& a, const File& b) { return a.path < b.path; });
    return std::move(walker.result);
}

}  // namespace brindle::TreeWalk
