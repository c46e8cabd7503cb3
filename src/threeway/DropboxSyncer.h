#pragma once

#include "common/DeletionGuard.h"
#include "common/DeletionsHeld.h"
#include "common/IgnoreRules.h"
#include "common/SyncEvent.h"
#include "threeway/PathCase.h"
#include "threeway/Reconcile.h"
#include "threeway/RemoteStore.h"
#include "threeway/SyncState.h"
#include "threeway/TreeWalk.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace brindle {

// Keeps a local folder in step with one RemoteStore (Dropbox or a drive) by a
// three-way comparison of each file's local version, remote version and base
// (the version both sides last agreed on), persisted in a state file.
//
// Threads: sync() runs on the caller's thread (the engine's serial sync
// queue), never twice at once on one object; transfers of each batch run on
// up to `workers` threads it starts and joins. The accessors may be called
// from any thread; they take the syncer's lock.
//
// Safety: nothing is ever written or removed outside the folder, whatever
// paths the store lists; a vanished folder or an emptied store never turns
// into deletions on the other side; every local write goes through a
// ".brindle-tmp-" file, checked against the store's hash and renamed into
// place; a local file that changed after it was scanned is never overwritten
// or removed.
//
// Passes are exclusive across processes: sync() holds a lock file in the
// state file's folder for its whole run (waiting for another process's pass
// to end), so temporary files that no pass owns are left by a killed process
// and are removed at once.
class DropboxSyncer {
public:
    using State = SyncState;
    using Base = SyncBase;
    using Action = SyncAction;

    struct Totals {
        int64_t files = 0;  // entries of the remote listing
        int64_t bytes = 0;  // sum of their sizes
    };

    // folder: the local root; stateFile: where the state lives (created with
    // its folders); store: shared with the worker threads; name: the store's
    // name in log lines, messages and conflict-copy names ("Dropbox" or a
    // drive's label); maxFileSize: larger local files are not synced (none:
    // no limit); workers: parallel transfers (below 2 means 1).
    DropboxSyncer(std::filesystem::path folder, std::filesystem::path stateFile, std::shared_ptr<RemoteStore> store,
                  std::string name, std::optional<int64_t> maxFileSize = std::nullopt, int workers = 1);

    DropboxSyncer(const DropboxSyncer&) = delete;
    DropboxSyncer& operator=(const DropboxSyncer&) = delete;

    // One full synchronisation: load the state file, check the account, up
    // to three passes (a pass is repeated after a conflict), the state saved
    // after each. Throws the store's error when its account or listing fails
    // (the state keeps what the last completed pass saved), brindle::Error
    // when the state file cannot be written or the folder cannot be created
    // or read, and DropboxFailure "N file(s) could not be synced; will retry.
    // First: <line>" when any file failed; the other files are still synced.
    // When a pass would delete on one side more files than DeletionGuard
    // allows, it deletes none of them there, does the rest and throws
    // DeletionsHeld, unless the answer recorded for this store (taken by this
    // run) says to delete them or to put them back where they vanished from.
    // Paths the folder's ignore rules match are left alone on both sides.
    void sync();

    // What sync() would do now, changing nothing (no file, no state file, no
    // write to the store): one line per action, sorted ("upload PATH",
    // "download PATH", "delete here PATH", "delete in NAME PATH", "conflict
    // copy PATH", "skip: too big PATH"). Throws as sync() does when the store
    // cannot be listed. Leaves the in-memory state as the listing found it;
    // the next sync() loads the state file again.
    std::vector<std::string> preview();

    // Called on the syncing thread after each batch with the number of
    // actions still left. Set it before sync().
    void setProgress(std::function<void(int left)> onProgress);
    // Seconds since 1970 (default: the system clock); decides which files
    // are busy (changed under a second ago) and stamps conflict copies.
    void setClock(std::function<double()> clock);
    // Where log lines go (default: Log::write). Called from worker threads.
    void setLog(std::function<void(const std::string&)> log);

    // The lock file beside the state files that makes passes over one folder
    // exclusive across processes.
    static constexpr const char* kPassLockName = "sync.lock";

    const std::string& name() const { return name_; }
    const std::filesystem::path& folder() const { return folder_; }
    const std::shared_ptr<RemoteStore>& store() const { return store_; }

    Totals totals() const;
    // The events not yet taken (at most 200 are held); takeEvents empties it.
    std::vector<SyncEvent> events() const;
    std::vector<SyncEvent> takeEvents();
    // Error lines ("display/path: message") of the latest sync().
    std::vector<std::string> errors() const;
    // Files that cannot be kept in step, found by the latest sync(), each as
    // "path: reason" (a name that is not UTF-8, or that differs from another
    // only by letter case). Each is also logged once per sync().
    std::vector<std::string> unsyncableFiles() const;
    // Display paths of local files over maxFileSize at the latest scan.
    std::vector<std::string> skippedFiles() const;
    // true when the latest sync() wrote or removed anything in the folder.
    bool changedLocal() const;
    // A copy of the in-memory state (for the engine's status and tests).
    State state() const;

private:
    struct Scan {
        std::map<std::string, Local> local;
        std::set<std::string> busy;  // keys not to touch in this cycle
    };
    struct Outcome {
        std::string key;
        bool again = false;
        bool stale = false;  // the file changed after the decision; decide again
        std::exception_ptr failure;
    };
    struct CachedHash {
        int64_t size = 0;
        int64_t mtimeNs = 0;
        ContentHash hash;
    };

    // passes, cycles and running (DropboxSyncer.cpp)
    void loadState();
    void checkAccount();
    void saveState();
    void flushFolder();
    bool pass(bool folderMissing);
    Scan listBoth(double now);
    // Runs the sorted actions in batches; true when all of them ran, false
    // when the round stopped early to look at both sides again.
    bool runActions(const std::vector<Action>& actions, const Scan& scan, std::set<std::string>& done,
                    std::map<std::string, int>& attempts, double refreshCost, bool& again);
    // Whether the folder (first) and the store (second) count as vanished
    // for this pass: then nothing is deleted on the other side.
    std::pair<bool, bool> goneSides(const Scan& scan, bool folderMissing);
    // Decides every key, or only those in `only`.
    std::vector<Action> decideAll(const Scan& scan, bool localGone, bool remoteGone, std::set<std::string>& done,
                                  const std::set<std::string>* only = nullptr);
    bool run(const std::vector<Action>& batch, const Scan& scan, std::set<std::string>& done, bool& stale);
    bool perform(const Action& action);
    // Brings the store's listing up to date; returns the keys it changed.
    // With ready, lists the store whole at once but merges its entries only
    // once ready says the state is loaded (false: gives up by throwing).
    std::set<std::string> refreshRemote(std::future<bool>* ready = nullptr);
    std::optional<Action> decide(const std::string& key, const Local* local, const SyncBase* base,
                                 const RemoteFile* remote, bool localGone, bool remoteGone);
    // Whether a local file is hashed for its decision; else it is hashed
    // only if nothing needs reading (knownHash).
    bool readsBeforeDeciding(const SyncBase* base, const RemoteFile* remote) const;
    // The hash of local that needs no reading (its base's, or one taken
    // since with the same size and time), or nothing.
    const ContentHash* knownHash(const std::string& key, const Local& local, const SyncBase* base) const;
    ContentHash localHash(const std::string& key, const Local& local, const SyncBase* base);
    // Hashes, on two threads, the local files whose hash decisions will need
    // and cannot take from their bases or hashes_, into hashes_.
    void hashAhead(const Scan& scan, const std::set<std::string>& done);
    // Holds back mass deletions (see sync()); returns true when it dropped
    // bases so that the files come back, and the pass must decide again.
    bool guardDeletions(std::vector<Action>& actions);

    // the local scan (LocalScan.cpp): the walk touches only the file system
    // and may run beside the remote refresh; classify decides what counts.
    TreeWalk::Result walkLocal(double now);
    Scan classify(TreeWalk::Result found, double now);
    // The scan after a round that ran all its actions, without walking the
    // folder again: only the files of the keys touched are examined afresh.
    // Nothing when any of them is in doubt (then everything is looked at).
    std::optional<Scan> rescanTouched(Scan scan, const std::set<std::string>& touched, double now);

    // actions (SyncActions.cpp)
    bool download(const std::string& key, const RemoteFile& remote, const std::optional<std::string>& destRel,
                  bool record, const std::optional<Local>& expected);
    bool upload(const std::string& key, const Local& local, const ContentHash& localHash,
                const std::optional<RemoteFile>& remote);
    bool removeRemote(const std::string& key, const RemoteFile& remote);
    bool removeLocalFile(const std::string& key, const Local& local);
    bool conflict(const std::string& key, const Local& local, const RemoteFile& remote);
    // A conflict copy of rel that already holds remote's content, if any.
    std::optional<std::string> existingCopy(const std::string& rel, const RemoteFile& remote);
    void removeLocal(const std::string& rel, const std::optional<Local>& expected);
    void fail(const std::string& key, const std::map<std::string, Local>& local, const std::string& message);
    void emit(const std::string& kind, const std::string& path, int64_t bytes);
    std::filesystem::path safePath(const std::string& rel) const;
    // Call with lock_ held: the whole state changed, or the records under key.
    void markStateChanged();
    void markStateChanged(const std::string& key);
    // Notes a file that cannot be synced, and logs it once per sync(); call
    // with lock_ held.
    void leaveOut(const std::string& path, const std::string& reason);

    const std::filesystem::path folder_;
    const std::filesystem::path stateFile_;
    const std::shared_ptr<RemoteStore> store_;
    const std::string name_;
    const std::optional<int64_t> maxFileSize_;
    const int workers_;
    std::function<void(int)> onProgress_;
    std::function<double()> clock_;
    std::function<void(const std::string&)> log_;

    // Touched only on the syncing thread.
    std::map<std::string, CachedHash> hashes_;
    std::set<std::string> warned_;  // folders already logged as unreadable in this sync()
    PathCase::Folders localFolders_;  // the Larder folder's folders read in this sync() to match letter case
    IgnoreRules ignoreRules_;       // read again at each decision round
    DeletionGuard::Answer deletionAnswer_ = DeletionGuard::Answer::none;  // for this sync()
    std::vector<DeletionsHeld> held_;                                     // mass deletions held back in this sync()
    std::future<std::set<std::string>> listedAhead_;  // the first listing of this sync(), begun beside the loading

    // Guards state_, stateChanged_, events_, errors_, changedLocal_,
    // unflushed_, skippedFiles_ and unsyncable_ against the worker threads and outside readers.
    mutable std::mutex lock_;
    State state_;
    bool stateChanged_ = false;  // the in-memory state differs from the file
    bool allChanged_ = false;    // ... beyond the records under changedKeys_
    std::set<std::string> changedKeys_;
    bool stateLoaded_ = false;  // state_ was loaded from (or saved to) stateOnDisk_
    JournaledFile stateOnDisk_;
    std::vector<SyncEvent> events_;
    std::vector<std::string> errors_;
    std::vector<std::string> skippedFiles_;
    std::vector<std::string> unsyncable_;
    bool changedLocal_ = false;
    bool unflushed_ = false;       // files were downloaded since the last flush
    bool accountUnknown_ = false;  // the store gave no account id this sync()
};

}  // namespace brindle
