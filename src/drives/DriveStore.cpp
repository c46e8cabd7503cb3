#include "drives/DriveStore.h"

#include "common/DropboxHash.h"
#include "common/Files.h"
#include "common/IsoDate.h"
#include "common/Text.h"
#include "threeway/DropboxFailure.h"
#include "threeway/PathCase.h"
#include "threeway/RecordJSON.h"
#include "threeway/StaleAction.h"
#include "threeway/TreeWalk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace brindle {

namespace fs = std::filesystem;

namespace {

constexpr int64_t kFreeMargin = 1048576;
// The drive's folder is written only by this drive's reconciler, whose passes
// hold the state folder's pass lock and list the drive only between
// transfers: a temporary file found by a listing was left by a killed process.
constexpr double kStaleTemporarySeconds = 0;
// Between listings, an upload rewrites the cache at most this often: a lost
// entry only costs one rehash, rewriting a large cache per file costs much more.
constexpr double kCacheSaveInterval = 5;
// A file's time is trusted for its hash once it is older than the coarsest
// clock tick of the file systems drives use (FAT: two seconds).
constexpr double kSettledSeconds = 2.0;

DropboxFailure systemFailure(const std::string& prefix = "") {
    return DropboxFailure::message(prefix + std::strerror(errno));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Copies what is left to read of in to out. Returns false with errno set on
// failure.
bool copyInto(int in, int out) {
    while (true) {
        ssize_t moved = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
            // Fall back to reading and writing.
            char buffer[1 << 16];
            while (true) {
                ssize_t got = ::read(in, buffer, sizeof buffer);
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) return false;
                if (got == 0) break;
                for (ssize_t done = 0; done < got;) {
                    ssize_t written = ::write(out, buffer + done, static_cast<size_t>(got - done));
                    if (written < 0 && errno == EINTR) continue;
                    if (written < 0) return false;
                    done += written;
                }
            }
            return true;
        }
        if (moved < 0) return false;
        if (moved == 0) return true;
    }
}

// Copies from onto a new file at to (which must not exist). Returns false
// with errno set on failure.
bool copyFile(const fs::path& from, const fs::path& to) {
    Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return false;
    Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    return out.get() >= 0 && copyInto(in.get(), out.get()) && ::close(out.release()) == 0;
}

// Whether a file looks the same in both stats: a write or a truncation
// between them moves its change time.
bool sameFile(const struct stat& before, const struct stat& after) {
    return before.st_size == after.st_size && Files::mtimeNs(before) == Files::mtimeNs(after) &&
           Files::ctimeNs(before) == Files::ctimeNs(after);
}

void backdate(int fd, double when) {
    timespec times[2] = {
        {0, UTIME_OMIT},
        {static_cast<time_t>(when), static_cast<long>((when - static_cast<double>(static_cast<time_t>(when))) * 1e9)}};
    ::futimens(fd, times);
}

std::vector<std::string> componentsOf(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// path's components, refusing a path whose text leads outside the folder.
std::vector<std::string> refuseOutside(const std::string& path) {
    auto parts = componentsOf(path);
    bool escapes = path.empty() || path.front() == '/' || path.find('\0') != std::string::npos || parts.empty();
    for (const auto& part : parts) escapes = escapes || part == "..";
    if (escapes) throw DropboxFailure::message("Refusing a path outside the drive's folder: " + path);
    return parts;
}

}  // namespace

DriveStore::DriveStore(fs::path root, std::string driveID, fs::path cacheFile)
    : root_(std::move(root)),
      driveID_(std::move(driveID)),
      cacheFile_(std::move(cacheFile)),
      clock_(IsoDate::nowSeconds),
      cacheOnDisk_(cacheFile_) {}

void DriveStore::setFreeBytes(std::function<std::optional<int64_t>()> freeBytes) {
    freeBytesOverride_ = std::move(freeBytes);
}

void DriveStore::setClock(std::function<double()> clock) {
    clock_ = std::move(clock);
}

std::string DriveStore::account() {
    return driveID_;
}

fs::path DriveStore::target(const std::string& path) const {
    auto parts = refuseOutside(path);
    // A folder on the way that is a symbolic link would lead off the drive.
    fs::path at = larder();
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        at /= parts[i];
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0) break;
        if (S_ISLNK(info.st_mode)) throw DropboxFailure::message("Refusing a path outside the drive's folder: " + path);
    }
    return larder() / path;
}

RemoteListing DriveStore::listAll() {
    RemoteListing listing;
    listing.cursor =
        streamAll([&](RemoteEntry& entry) { listing.entries.push_back(std::move(entry)); }, listing.unsyncable);
    return listing;
}

std::string DriveStore::streamAll(const std::function<void(RemoteEntry&)>& each, Unsyncable& unsyncable) {
    std::error_code error;
    if (!fs::is_directory(larder(), error))
        throw DropboxFailure::message(
            "The drive has no \"Larder\" folder; was it formatted? Remove it and add it again.");
    flush();
    // The drive's listing lives in its file between walks: a large tree's
    // listing costs less to read again than to keep in memory all along.
    fs::path listingFile = cacheFile_.parent_path() / ("drive-" + driveID_ + "-volume-listing");
    TreeWalk::ListingCache listing = TreeWalk::ListingCache::load(listingFile);
    TreeWalk::Result found = TreeWalk::walk(larder(), clock_(), kStaleTemporarySeconds, &listing);
    // Files in a folder we cannot read are not deleted: fail rather than
    // let them look that way.
    if (!found.unreadable.empty())
        throw DropboxFailure::message("Couldn't read " + found.unreadable.front().path +
                                      " on the drive: " + std::strerror(found.unreadable.front().error));
    listing.save(listingFile);
    listing = {};
    // Every hash is known before the first file is handed on, so nothing
    // fails halfway through.
    std::deque<ContentHash> hashes = hashesOf(found, unsyncable);
    saveCache();
    RemoteEntry entry;
    // Each file is let go of once it is handed on.
    for (; !found.files.empty(); found.files.pop_front(), hashes.pop_front()) {
        TreeWalk::File& file = found.files.front();
        if (file.path.empty()) continue;  // not a name we can take
        entry.key = pathKey(file.path);
        entry.file = RemoteFile{std::string(file.path), hashes.front(), "", file.size, 0};
        each(entry);
    }
    return "scan";
}

std::deque<ContentHash> DriveStore::hashesOf(TreeWalk::Result& found, Unsyncable& unsyncable) {
    std::deque<TreeWalk::File>& files = found.files;
    std::deque<ContentHash> hashes(files.size());
    enum : unsigned char { kUnknown, kKnown, kUnusable };
    std::vector<unsigned char> state(files.size(), kUnknown);
    for (size_t i = 0; i < files.size(); ++i) {
        // The reconciler cannot take such a name, and the cache cannot hold it.
        if (Text::isValidUTF8(files[i].path)) continue;
        unsyncable.emplace_back(Text::lossyUTF8(files[i].path), "its name on the drive is not valid UTF-8");
        state[i] = kUnusable;
    }
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        // The walk is in path order, and so is the cache file: one pass over
        // the two finds its records; a journal's records are searched for.
        size_t next = 0;
        std::string last;  // the file's record met last
        auto indexOf = [&](const std::string& path, bool inFile) {
            if (!inFile || path < last) {
                auto at =
                    std::lower_bound(files.begin(), files.end(), path,
                                     [](const TreeWalk::File& file, std::string_view p) { return file.path < p; });
                return at != files.end() && at->path == path ? static_cast<size_t>(at - files.begin()) : files.size();
            }
            last = path;
            while (next < files.size() && files[next].path < path) ++next;
            return next < files.size() && files[next].path == path ? next : files.size();
        };
        std::set<std::string> gone;  // cached paths the walk did not find
        auto note = [&](const std::string& path, const CacheEntry* entry, bool inFile) {
            size_t i = indexOf(path, inFile);
            if (i == files.size()) {
                if (entry)
                    gone.insert(path);
                else
                    gone.erase(path);
            } else if (state[i] != kUnusable) {
                bool holds = entry && entry->size == files[i].size && entry->mtimeNs == files[i].mtimeNs;
                if (holds) hashes[i] = entry->hash;
                state[i] = holds ? kKnown : kUnknown;
            }
        };
        auto restart = [&] {
            for (unsigned char& one : state)
                if (one == kKnown) one = kUnknown;
            gone.clear();
            next = 0;
            last.clear();
        };
        if (!readCache(note, restart)) restart();
        for (const auto& [path, entry] : pending_) note(path, entry ? &*entry : nullptr, false);
        for (const std::string& path : gone) forget(path);
        cacheRecords_ = static_cast<size_t>(std::count(state.begin(), state.end(), kKnown));
    }
    for (size_t i = 0; i < files.size(); ++i) {
        if (state[i] == kUnusable) files[i].path = {};
        if (state[i] != kUnknown) continue;
        const TreeWalk::File& file = files[i];
        try {
            hashes[i] = DropboxHash::of(larder() / file.path);
        } catch (const std::exception& failure) {
            throw DropboxFailure::message(failure.what());
        }
        // A file changed within the last tick of the drive's clock (two
        // seconds on FAT) may change again without its time moving: hash it
        // again next time.
        if (clock_() - static_cast<double>(file.mtimeNs) / 1e9 >= kSettledSeconds)
            remember(std::string(file.path), CacheEntry{file.size, file.mtimeNs, hashes[i]});
    }
    return hashes;
}

RemoteListing DriveStore::listChanges(const std::string&) {
    throw DropboxFailure::reset();
}

void DriveStore::download(const std::string& path, const fs::path& to) {
    fs::path source = target(path);
    ::unlink(to.c_str());
    if (!copyFile(source, to)) throw systemFailure();
}

RemoteFile DriveStore::upload(const std::string& requested, const fs::path& from, const std::optional<std::string>&) {
    std::vector<std::string> folders = refuseOutside(requested);
    const std::string name = folders.back();
    folders.pop_back();
    auto failure = [] { return systemFailure("Couldn't copy it to the drive: "); };
    // Into the folders the drive already has, whatever their letter case.
    // Each is opened without following a symbolic link (one would lead off
    // the drive), and the file is written and renamed inside the last one
    // opened, so nothing can redirect it after that check. The name itself
    // is the reconciler's: it names the file the drive's listing holds under
    // this key, or a key the listing does not have.
    Descriptor folder(::open(larder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) throw failure();
    auto enter = [&](const std::string& part) {
        int next = ::openat(folder.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
            struct stat info {};
            if (::fstatat(folder.get(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
                throw DropboxFailure::message("Refusing a path outside the drive's folder: " + requested);
            errno = ENOTDIR;
        }
        if (next >= 0) folder.reset(next);
        return next >= 0;
    };
    size_t missing = 0;  // folders entered; the rest are made below
    for (; missing < folders.size(); ++missing) {
        if (enter(folders[missing])) continue;
        if (errno != ENOENT) throw failure();
        std::optional<std::string> existing = PathCase::entryIn(folder.get(), folders[missing]);
        if (!existing) break;
        if (!enter(*existing)) throw failure();
        folders[missing] = *existing;
    }

    Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat source {};
    if (in.get() < 0 || ::fstat(in.get(), &source) != 0) throw failure();
    if (auto free = freeBytes(); free && *free < source.st_size + kFreeMargin)
        throw DropboxFailure::message("The drive is full, so Brindle can't add more files to it.");
    for (size_t i = missing; i < folders.size(); ++i) {
        if (::mkdirat(folder.get(), folders[i].c_str(), 0777) != 0 && errno != EEXIST) throw failure();
        if (!enter(folders[i])) throw failure();
    }
    std::string path;  // as stored
    for (const std::string& part : folders) path += part + "/";
    path += name;

    const std::string temporary = Files::temporaryName();
    Descriptor out(::openat(folder.get(), temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.get() < 0) throw failure();
    struct TemporaryRemover {
        int folder;
        const std::string& name;
        bool armed = true;
        ~TemporaryRemover() {
            if (armed) ::unlinkat(folder, name.c_str(), 0);
        }
    } remover{folder.get(), temporary};
    if (!copyInto(in.get(), out.get())) throw failure();
    // Dated 2 s back, so that a later edit on the drive always shows a new
    // time, even within one tick of the file system's clock; the hash and
    // size are taken before the file becomes visible.
    backdate(out.get(), clock_() - 2);
    // The hash below is the source's only if nothing wrote to it while it
    // was copied; a copy of a file being written is decided again later.
    struct stat after {};
    if (::fstat(in.get(), &after) != 0) throw failure();
    if (!sameFile(source, after)) throw StaleAction(requested);
    struct stat stored {};
    if (::fstat(out.get(), &stored) != 0) throw failure();
    // The copy's hash stands for the file's: a copy that stopped short (or
    // ran on) is not stored.
    if (stored.st_size != source.st_size)
        throw DropboxFailure::message("Couldn't copy it to the drive: the copy has " + std::to_string(stored.st_size) +
                                      " bytes of " + std::to_string(source.st_size));
    std::string hash;
    try {
        hash = DropboxHash::ofOpen(out.get(), temporary);
    } catch (const std::exception& error) {
        throw DropboxFailure::message(error.what());
    }
    if (::close(out.release()) != 0) throw failure();
    if (::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) != 0) throw failure();
    remover.armed = false;
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        unflushed_ = true;
    }
    remember(path, CacheEntry{stored.st_size, Files::mtimeNs(stored), hash});
    bool due;
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        due = clock_() - lastSave_ >= kCacheSaveInterval;
    }
    if (due) saveCache();
    return RemoteFile{path, hash, "", stored.st_size, 0};
}

void DriveStore::remove(const std::string& path, const std::optional<std::string>&) {
    fs::path file = target(path);
    if (::unlink(file.c_str()) != 0) throw systemFailure();
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        forget(path);
    }
    // Prune the folders this emptied, up to but not including "Larder".
    auto parts = componentsOf(path);
    parts.pop_back();
    while (!parts.empty()) {
        fs::path folder = larder();
        for (const auto& part : parts) folder /= part;
        if (::rmdir(folder.c_str()) != 0) break;
        parts.pop_back();
    }
}

std::optional<int64_t> DriveStore::freeBytes() const {
    if (freeBytesOverride_) return freeBytesOverride_();
    struct statfs info {};
    if (::statfs(root_.c_str(), &info) != 0) return std::nullopt;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_bsize);
}

void DriveStore::remember(const std::string& path, CacheEntry entry) {
    std::lock_guard<std::mutex> guard(cacheLock_);
    pending_.insert_or_assign(path, std::move(entry));
    ++cacheRecords_;
}

void DriveStore::forget(const std::string& path) {
    pending_.insert_or_assign(path, std::nullopt);
}

std::map<std::string, DriveStore::CacheEntry> DriveStore::cache() const {
    std::lock_guard<std::mutex> guard(cacheLock_);
    return loadAll();
}

bool DriveStore::readCache(const std::function<void(const std::string&, const CacheEntry*, bool)>& each,
                           const std::function<void()>& restart) const {
    RecordJSON::Reader reader;
    reader.sectioned = false;
    bool whole = true;  // reading the file itself, not a journal entry
    reader.record = [&](const std::string&, std::string& path, RecordJSON::Record&& record) {
        using Field = RecordJSON::Record;
        if (!record.has(Field::kSize | Field::kMtimeNs | Field::kHash)) return false;
        CacheEntry entry{record.size, record.mtimeNs, std::move(record.hash)};
        each(path, &entry, whole);
        return true;
    };
    reader.removed = [&](const std::string&, const std::string& path) { each(path, nullptr, whole); };
    reader.restart = [&] {
        if (whole) restart();
    };
    auto read = [&](std::string_view bytes) { return RecordJSON::parse(bytes, reader).has_value(); };
    return cacheOnDisk_.load(read, [&](std::string_view changes) {
        whole = false;
        return read(changes);
    });
}

std::map<std::string, DriveStore::CacheEntry> DriveStore::loadAll() const {
    std::map<std::string, CacheEntry> all;
    auto note = [&](const std::string& path, const CacheEntry* entry, bool) {
        if (entry)
            all.insert_or_assign(path, *entry);
        else
            all.erase(path);
    };
    if (!readCache(note, [&] { all.clear(); })) all.clear();
    for (const auto& [path, entry] : pending_) note(path, entry ? &*entry : nullptr, false);
    return all;
}

void DriveStore::flush() {
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        if (!unflushed_) return;
        unflushed_ = false;
    }
    int fd = ::open(larder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::syncfs(fd);
    ::close(fd);
}

void DriveStore::saveCache() {
    // The cache must never vouch for a file whose bytes are not on the drive yet.
    flush();
    std::lock_guard<std::mutex> guard(cacheLock_);
    if (pending_.empty()) return;
    auto append = [](std::string& out, bool& first, const std::string& path, const CacheEntry* entry) {
        RecordJSON::appendMember(out, first, path, entry != nullptr);
        if (!entry) return;
        out += "{\"size\":";
        RecordJSON::appendNumber(out, entry->size);
        out += ",\"mtimeNs\":";
        RecordJSON::appendNumber(out, entry->mtimeNs);
        out += ",\"hash\":";
        RecordJSON::appendString(out, entry->hash.str());
        out += '}';
    };
    try {
        // The paths that changed go to the journal when they are few.
        auto changes = [&] {
            std::string out = "{";
            bool first = true;
            for (const auto& [path, entry] : pending_) append(out, first, path, entry ? &*entry : nullptr);
            return out + '}';
        };
        // The whole cache is read only when it is written whole (most saves
        // append a few changes to the journal), from the file it replaces.
        auto whole = [&](std::string& out, const std::function<void(std::string&)>& pieces) {
            std::map<std::string, CacheEntry> all = loadAll();
            cacheRecords_ = all.size();
            out += '{';
            bool first = true;
            for (const auto& [path, entry] : all) {
                append(out, first, path, &entry);
                pieces(out);
            }
            out += '}';
        };
        cacheOnDisk_.save(pending_.size(), cacheRecords_, changes, whole);
        pending_.clear();
        lastSave_ = clock_();
    } catch (const std::exception&) {
        // The cache only saves time; it is written again after the next listing.
    }
}

}  // namespace brindle
