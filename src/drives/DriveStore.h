#pragma once

#include "threeway/JournaledFile.h"
#include "threeway/ListingCache.h"
#include "threeway/RemoteStore.h"
#include "threeway/TreeWalk.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
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
// size and modification time, persisted in cacheFile.
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
    void download(const std::string& path, const std::filesystem::path& to) override;
    // Stores into the drive's existing folders whatever their letter case;
    // the record returned carries the path as stored.
    RemoteFile upload(const std::string& path, const std::filesystem::path& from,
                      const std::optional<std::string>& updateRev) override;
    void remove(const std::string& path, const std::optional<std::string>& rev) override;

    // root/Larder/path; throws for a path with a leading "/" or a ".."
    // component.
    std::filesystem::path target(const std::string& path) const;
    // Bytes free for us on the drive, or nothing when unknown.
    std::optional<int64_t> freeBytes() const;
    // Writes the cache file atomically when it changed; failures are ignored.
    void saveCache();
    // Makes the files written so far durable on the drive (one syncfs for
    // many files rather than a flush per file). Every listing and cache save
    // flushes first, and the reconciler saves its state only after a listing,
    // so no record ever describes a file that a pulled-out drive could lose.
    void flush();

    std::map<std::string, CacheEntry> cache() const;

    // For tests: the free-space figure, and the clock (seconds since 1970)
    // that decides when a temporary file left by a killed process is stale.
    void setFreeBytes(std::function<std::optional<int64_t>()> freeBytes);
    void setClock(std::function<double()> clock);

private:
    // The steps of a listing: the hash of every file found, from the cache
    // or read afresh (a name that is not UTF-8 goes to unsyncable and its
    // path is cleared), and forgetting cached files that are gone.
    std::vector<ContentHash> hashesOf(TreeWalk::Result& found, Unsyncable& unsyncable);
    void forgetGone(const TreeWalk::Result& found);
    std::filesystem::path larder() const { return root_ / "Larder"; }
    void remember(const std::string& path, CacheEntry entry);
    void forget(std::map<std::string, CacheEntry>::iterator entry);  // with cacheLock_ held
    void loadCache();
    // The cache is read in the background from construction on (a large one
    // takes as long as reading the reconciler's state beside it); everything
    // that touches it waits for that first.
    void awaitCache() const { cacheLoaded_.wait(); }

    const std::filesystem::path root_;
    const std::string driveID_;
    const std::filesystem::path cacheFile_;
    std::function<std::optional<int64_t>()> freeBytesOverride_;
    std::function<double()> clock_;

    mutable std::mutex cacheLock_;  // guards the cache's members, lastSave_, unflushed_
    std::map<std::string, CacheEntry> cache_;
    JournaledFile cacheOnDisk_;
    bool cacheChanged_ = false;
    std::set<std::string> cacheChangedPaths_;  // what changed since the cache was saved
    double lastSave_ = 0;
    bool unflushed_ = false;  // files were written since the last flush
    std::future<void> cacheLoaded_;  // last member: the loader starts once the others exist
};

}  // namespace brindle
