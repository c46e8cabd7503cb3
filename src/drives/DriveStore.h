#pragma once

#include "threeway/JournaledFile.h"
#include "threeway/ListingCache.h"
#include "threeway/RemoteStore.h"
#include "threeway/TreeWalk.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace brindle {

// The folder "Larder" at the root of a USB drive, seen as a RemoteStore so
// the three-way reconciler keeps the local folder in step with it. Nothing
// outside that folder is read or written. The store has no revisions and no
// modification times: records carry an empty rev and modified 0, and rev
// arguments are ignored. Every listing is a full scan (listChanges always
// asks for one), kept cheap by a hash cache keyed by path and validated by
// size and modification time. The cache lives in cacheFile: each listing
// reads it beside the files it found, and memory holds only the changes not
// yet written (a large drive's cache would otherwise sit in memory all
// along).
//
// Failures are DropboxFailure with the user's text; a missing "Larder" folder
// fails listAll. Operations may be called from several threads (the engine
// gives a drive one worker, so they normally are not).
class DriveStore : public RemoteStore {
public:
    struct CacheEntry {
        int64_t size = 0;
        int64_t mtimeNs = 0;
        ContentHash hash;

        bool operator==(const CacheEntry&) const = default;
    };

    // root: the volume's folder; driveID: the id from its marker, also the
    // store's account; cacheFile: the hash cache, loaded here (a missing or
    // undecodable file gives an empty cache).
    DriveStore(std::filesystem::path root, std::string driveID, std::filesystem::path cacheFile);

    const std::filesystem::path& root() const { return root_; }
    const std::string& driveID() const { return driveID_; }

    std::string account() override;
    RemoteListing listAll() override;
    std::string streamAll(const std::function<void(RemoteEntry&)>& each, Unsyncable& unsyncable) override;
    RemoteListing listChanges(const std::string& cursor) override;
    bool listsChanges() const override { return false; }
    bool hashesUploads() const override { return true; }
    void download(const std::string& path, const std::filesystem::path& to) override;
    // Stores into the drive's existing folders whatever their letter case;
    // the record returned carries the path as stored, and the hash of the
    // copy, read back from the drive. Throws StaleAction when from changed
    // while it was copied, and refuses a copy of another size than from's.
    RemoteFile upload(const std::string& path, const std::filesystem::path& from,
                      const std::optional<std::string>& updateRev) override;
    void remove(const std::string& path, const std::optional<std::string>& rev) override;

    // root/Larder/path; throws for a path with a leading "/" or a ".."
    // component.
    std::filesystem::path target(const std::string& path) const;
    // Bytes free for us on the drive, or nothing when unknown.
    std::optional<int64_t> freeBytes() const;
    // Writes the cache's changes (to the journal when they are few, else the
    // whole file atomically); failures are ignored.
    void saveCache();
    // Makes the files written so far durable on the drive (one syncfs for
    // many files rather than a flush per file). Every listing and cache save
    // flushes first, and the reconciler saves its state only after a listing,
    // so no record ever describes a file that a pulled-out drive could lose.
    void flush();

    // The whole cache as the file, its journal and the unwritten changes say.
    std::map<std::string, CacheEntry> cache() const;

    // For tests: the free-space figure, and the clock (seconds since 1970)
    // that decides when a temporary file left by a killed process is stale.
    void setFreeBytes(std::function<std::optional<int64_t>()> freeBytes);
    void setClock(std::function<double()> clock);

private:
    // The hash of every file found, from the cache or read afresh; a name
    // that is not UTF-8 goes to unsyncable and its path is cleared. Cached
    // files that are gone are forgotten.
    std::deque<ContentHash> hashesOf(TreeWalk::Result& found, Unsyncable& unsyncable);
    std::filesystem::path larder() const { return root_ / "Larder"; }
    void remember(const std::string& path, CacheEntry entry);
    void forget(const std::string& path);  // with cacheLock_ held
    // Hands each record of the cache file and then of its journal to each:
    // its path, its entry or null for a removal, and whether it comes from
    // the file itself (there in path order). restart: forget what each was
    // given (the file is read again from the start). False when the file is
    // missing or undecodable. With cacheLock_ held.
    bool readCache(const std::function<void(const std::string& path, const CacheEntry* entry, bool whole)>& each,
                   const std::function<void()>& restart) const;
    std::map<std::string, CacheEntry> loadAll() const;  // with cacheLock_ held

    const std::filesystem::path root_;
    const std::string driveID_;
    const std::filesystem::path cacheFile_;
    std::function<std::optional<int64_t>()> freeBytesOverride_;
    std::function<double()> clock_;

    mutable std::mutex cacheLock_;  // guards the cache's members, lastSave_, unflushed_
    mutable JournaledFile cacheOnDisk_;
    // Changes not written yet: an entry, or nothing for a path forgotten.
    std::map<std::string, std::optional<CacheEntry>> pending_;
    size_t cacheRecords_ = 0;  // records in the cache at the last listing or whole save
    double lastSave_ = 0;
    bool unflushed_ = false;  // files were written since the last flush
};

}  // namespace brindle
