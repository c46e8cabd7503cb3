#include "threeway/DropboxSyncer.h"

#include "common/DropboxHash.h"
#include "common/Log.h"
#include "threeway/DropboxFailure.h"
#include "threeway/StaleAction.h"

#include "common/Files.h"
#include "common/IgnoredNames.h"
#include "common/IsoDate.h"
#include "common/PassLock.h"
#include "common/Text.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <thread>
#include <tuple>

namespace brindle {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxPasses = 3;
constexpr size_t kBatchSize = 16;
constexpr int kMaxStarts = 3;
// Below this many files to hash, a second thread costs more than it saves.
constexpr size_t kHashAheadFiles = 8;
constexpr size_t kGoneBaseEntries = 2;
// Decisions are refreshed (rescan and relisting) once the actions run since
// the last refresh took this many times as long as the refresh itself: after
// every batch for a slow store, after many batches for a fast local drive.
// Every action re-checks its file before touching it, so a stale decision is
// never acted on. A round shorter than kRefreshFloorSeconds is never
// interrupted: looking again then only adds work (a first sync onto a fast
// drive would list both trees several times), and what changed meanwhile
// is found when the round ends.
constexpr double kRefreshRatio = 4.0;
constexpr double kRefreshFloorSeconds = 2.0;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string messageOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

// A listing entry we never take: names that are never synced, and names that
// are not UTF-8 (they cannot be stored in the state file or on Dropbox).
bool unwanted(const RemoteFile& file) {
    return !Text::isValidUTF8(file.path) || IgnoredNames::anyComponentMatches(file.path);
}

// Removes key and every key below it (key + "/...") from a listing,
// noting the keys removed in changed.
void eraseTree(std::map<std::string, RemoteFile>& remote, const std::string& key, std::set<std::string>& changed) {
    if (remote.erase(key)) changed.insert(key);
    std::string prefix = key + "/";
    for (auto it = remote.lower_bound(prefix); it != remote.end() && it->first.starts_with(prefix);) {
        changed.insert(it->first);
        it = remote.erase(it);
    }
}

void apply(std::map<std::string, RemoteFile>& remote, std::vector<RemoteEntry>& entries,
           std::set<std::string>& changed) {
    for (auto& entry : entries) {
        if (entry.deleted) {
            eraseTree(remote, entry.key, changed);
        } else if (entry.file && !unwanted(*entry.file)) {
            auto [at, added] = remote.try_emplace(entry.key);
            if (!added && at->second == *entry.file) continue;
            at->second = std::move(*entry.file);
            changed.insert(entry.key);
        }
    }
}

// Makes remote hold exactly what a full listing says as its entries come
// in, changing only the records that differ (a drive is listed in full
// after every batch, and rebuilding a large map each time would cost more
// than the scan), and notes the keys whose records changed. The records
// before `at_` are the ones the listing has named so far; the ones it passed
// over wait in `passed_` until it names them after all (a listing in path
// order is nearly, but not always, in key order). Of several entries with
// one key the last one counts. Left unfinished (a failure), it puts back
// every record it took out, so no file looks deleted.
class ListingMerge {
public:
    using Twins = std::vector<std::pair<std::string, std::string>>;

    ListingMerge(std::map<std::string, RemoteFile>& remote, std::set<std::string>& changed, Twins& caseTwins)
        : remote_(remote), changed_(changed), caseTwins_(caseTwins), at_(remote.begin()) {}
    ListingMerge(const ListingMerge&) = delete;
    ListingMerge& operator=(const ListingMerge&) = delete;
    ~ListingMerge() {
        if (finished_) return;
        while (!passed_.empty()) remote_.insert(passed_.extract(passed_.begin()));
    }

    void add(RemoteEntry& entry) {
        if (entry.deleted) return remove(entry.key);
        if (!entry.file || unwanted(*entry.file)) return;
        if (named_ && entry.key <= last_) return addOutOfOrder(entry);
        while (at_ != remote_.end() && at_->first < entry.key) passed_.insert(passed_.end(), remote_.extract(at_++));
        if (at_ != remote_.end() && at_->first == entry.key) {
            update(at_->second, entry);
            ++at_;
        } else {
            changed_.insert(entry.key);
            remote_.emplace_hint(at_, entry.key, std::move(*entry.file));
        }
        last_ = std::move(entry.key);
        named_ = true;
    }

    // Drops every record the listing did not name.
    void finish() {
        for (; at_ != remote_.end(); at_ = remote_.erase(at_)) changed_.insert(at_->first);
        for (const auto& [key, file] : passed_) changed_.insert(key);
        passed_.clear();
        finished_ = true;
    }

private:
    void update(RemoteFile& recorded, RemoteEntry& entry) {
        if (recorded == *entry.file) return;
        recorded = std::move(*entry.file);
        changed_.insert(entry.key);
    }

    void addOutOfOrder(RemoteEntry& entry) {
        if (auto named = remote_.find(entry.key); named != remote_.end()) {
            caseTwins_.emplace_back(named->second.path, entry.file->path);
            update(named->second, entry);
        } else if (auto passed = passed_.find(entry.key); passed != passed_.end()) {
            auto node = passed_.extract(passed);
            update(node.mapped(), entry);
            remote_.insert(std::move(node));
        } else {
            changed_.insert(entry.key);
            remote_.emplace(std::move(entry.key), std::move(*entry.file));
        }
    }

    // A deleted key in a full listing takes back what the listing named so
    // far at or under it.
    void remove(const std::string& key) {
        auto named = [&](std::map<std::string, RemoteFile>::iterator it) {
            return named_ && it != remote_.end() && it->first <= last_;
        };
        if (auto it = remote_.find(key); named(it)) passed_.insert(remote_.extract(it));
        std::string prefix = key + "/";
        for (auto it = remote_.lower_bound(prefix); named(it) && it->first.starts_with(prefix);)
            passed_.insert(remote_.extract(it++));
    }

    std::map<std::string, RemoteFile>& remote_;
    std::set<std::string>& changed_;
    Twins& caseTwins_;
    std::map<std::string, RemoteFile>::iterator at_;
    std::map<std::string, RemoteFile> passed_;
    std::string last_;  // the greatest key named so far
    bool named_ = false;
    bool finished_ = false;
};

}  // namespace

DropboxSyncer::DropboxSyncer(fs::path folder, fs::path stateFile, std::shared_ptr<RemoteStore> store, std::string name,
                             std::optional<int64_t> maxFileSize, int workers)
    : folder_(std::move(folder)),
      stateFile_(std::move(stateFile)),
      store_(std::move(store)),
      name_(std::move(name)),
      maxFileSize_(maxFileSize),
      workers_(workers < 2 ? 1 : workers),
      clock_(IsoDate::nowSeconds),
      log_(Log::write),
      stateOnDisk_(stateFile_) {}

void DropboxSyncer::setProgress(std::function<void(int)> onProgress) {
    onProgress_ = std::move(onProgress);
}
void DropboxSyncer::setClock(std::function<double()> clock) {
    clock_ = std::move(clock);
}
void DropboxSyncer::setLog(std::function<void(const std::string&)> log) {
    log_ = std::move(log);
}

DropboxSyncer::Totals DropboxSyncer::totals() const {
    std::lock_guard<std::mutex> guard(lock_);
    Totals totals;
    totals.files = static_cast<int64_t>(state_.remote.size());
    for (const auto& [key, file] : state_.remote) totals.bytes += file.size;
    return totals;
}

std::vector<SyncEvent> DropboxSyncer::events() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

std::vector<SyncEvent> DropboxSyncer::takeEvents() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(events_, {});
}

std::vector<std::string> DropboxSyncer::errors() const {
    std::lock_guard<std::mutex> guard(lock_);
    return errors_;
}

std::vector<std::string> DropboxSyncer::unsyncableFiles() const {
    std::lock_guard<std::mutex> guard(lock_);
    return unsyncable_;
}

void DropboxSyncer::leaveOut(const std::string& path, const std::string& reason) {
    std::string line = path + ": " + reason;
    if (std::find(unsyncable_.begin(), unsyncable_.end(), line) != unsyncable_.end()) return;
    unsyncable_.push_back(line);
    log_("Not syncing " + line);
}

std::vector<std::string> DropboxSyncer::skippedFiles() const {
    std::lock_guard<std::mutex> guard(lock_);
    return skippedFiles_;
}

bool DropboxSyncer::changedLocal() const {
    std::lock_guard<std::mutex> guard(lock_);
    return changedLocal_;
}

DropboxSyncer::State DropboxSyncer::state() const {
    std::lock_guard<std::mutex> guard(lock_);
    return state_;
}

void DropboxSyncer::markStateChanged() {
    stateChanged_ = true;
    allChanged_ = true;
}

void DropboxSyncer::markStateChanged(const std::string& key) {
    stateChanged_ = true;
    changedKeys_.insert(key);
}

void DropboxSyncer::sync() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        changedLocal_ = false;
        errors_.clear();
        unsyncable_.clear();
        warned_.clear();
    }
    // One pass at a time over the folder, whichever process runs it: two at
    // once would both resolve the same conflicts and overwrite each other's
    // state file.
    std::error_code error;
    fs::create_directories(stateFile_.parent_path(), error);
    if (error) throw Error("Could not create " + stateFile_.parent_path().string() + ": " + error.message());
    PassLock passLock(stateFile_.parent_path() / kPassLockName, log_);
    struct Forget {
        PathCase::Folders& folders;
        ~Forget() { folders.clear(); }
    } forget{localFolders_};
    // A store that can only list everything (a drive) is listed whole
    // whatever the state says, and on a large tree that takes as long as
    // loading the state: it runs beside the loading, and its entries wait
    // for the state (and the account check) before they are merged in.
    std::promise<bool> stateReady;
    std::future<bool> ready = stateReady.get_future();
    if (!store_->listsChanges())
        listedAhead_ = std::async(std::launch::async, [this, &ready] { return refreshRemote(&ready); });
    struct Settle {
        std::promise<bool>& ready;
        std::future<std::set<std::string>>& listing;
        bool told = false;
        void tell(bool loaded) {
            if (!told) ready.set_value(loaded), told = true;
        }
        ~Settle() {
            tell(false);
            if (listing.valid()) listing.wait();  // a listing not taken ends here, its failure unseen
            listing = {};
        }
    } settle{stateReady, listedAhead_};
    loadState();
    held_.clear();
    deletionAnswer_ = DeletionGuard::take(stateFile_.parent_path(), name_);
    bool folderMissing = !fs::exists(fs::symlink_status(folder_, error));
    if (folderMissing) {
        fs::create_directories(folder_, error);
        if (error) throw Error("Couldn't create " + folder_.string() + ": " + error.message());
        log_("Created folder " + folder_.string());
    }
    checkAccount();
    settle.tell(true);

    bool again = pass(folderMissing);
    saveState();
    for (int passes = 1; again && passes < kMaxPasses; ++passes) {
        again = pass(false);
        saveState();
    }

    std::lock_guard<std::mutex> guard(lock_);
    // A hash its file's base now holds is not needed again: kept, every file
    // ever added or edited would stay in memory for the process's life.
    std::erase_if(hashes_, [this](const auto& entry) {
        auto base = state_.base.find(entry.first);
        return base != state_.base.end() && base->second.size == entry.second.size &&
               base->second.mtimeNs == entry.second.mtimeNs;
    });
    if (!held_.empty()) throw held_.front();
    if (!errors_.empty())
        throw DropboxFailure::message(std::to_string(errors_.size()) +
                                      " file(s) could not be synced; will retry. First: " + errors_.front());
}

void DropboxSyncer::loadState() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        // What the last pass saved is still in memory: unless another process
        // wrote the file since, reading a large state again would only cost time.
        if (stateLoaded_ && !stateChanged_ && stateOnDisk_.unchanged()) return;
    }
    auto loaded = State::load(stateOnDisk_);
    std::lock_guard<std::mutex> guard(lock_);
    // A missing or corrupt file starts fresh and is replaced after the pass.
    state_ = loaded ? std::move(*loaded) : State();
    stateChanged_ = allChanged_ = !loaded;
    changedKeys_.clear();
    stateLoaded_ = true;
}

void DropboxSyncer::checkAccount() {
    std::string account = store_->account();
    std::lock_guard<std::mutex> guard(lock_);
    // Without an id a change of the account behind the store cannot be seen,
    // so the bases may belong to another one: nothing is deleted on their
    // word until the id is known.
    accountUnknown_ = account.empty();
    if (accountUnknown_) {
        log_(name_ + " gave no account id; nothing is deleted on either side until it does");
        return;
    }
    if (account == state_.account) return;
    if (!state_.account.empty())
        log_(name_ + " changed (" + state_.account + " -> " + account + "); starting over without deleting anything");
    // With no bases nothing is deleted on either side: the two are merged.
    state_ = State();
    state_.account = account;
    markStateChanged();
}

void DropboxSyncer::saveState() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        // An unchanged state is already on disk; rewriting a large file after
        // a pass that did nothing would only cost time.
        if (!stateChanged_) return;
    }
    flushFolder();
    // No worker runs between passes: the lock is held only against readers.
    std::lock_guard<std::mutex> guard(lock_);
    // A few changed records go to the journal; the whole state is written
    // when more changed or the journal is full.
    if (allChanged_)
        state_.save(stateOnDisk_);
    else
        state_.save(stateOnDisk_, changedKeys_);
    stateChanged_ = allChanged_ = false;
    changedKeys_.clear();
}

void DropboxSyncer::flushFolder() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!unflushed_) return;
        unflushed_ = false;
    }
    // One flush of the file system for all the files written in this pass:
    // the state must never record a download that a power cut could undo.
    int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::syncfs(fd);
    ::close(fd);
}

std::set<std::string> DropboxSyncer::refreshRemote(std::future<bool>* ready) {
    std::optional<std::string> cursor;
    if (!ready) {
        std::lock_guard<std::mutex> guard(lock_);
        cursor = state_.cursor;
    }
    RemoteListing listing;
    bool full = !cursor;
    if (cursor) {
        try {
            listing = store_->listChanges(*cursor);
        } catch (const DropboxFailure& failure) {
            if (!failure.isReset()) throw;
            full = true;
        }
    }

    std::set<std::string> changed;
    ListingMerge::Twins caseTwins;
    std::unique_lock<std::mutex> guard(lock_, std::defer_lock);
    if (full) {
        // Merged into the recorded listing as it comes, so that a large
        // store is never held twice.
        std::optional<ListingMerge> merge;
        auto start = [&] {
            if (ready && !ready->get()) throw Error("The listing of " + name_ + " was not needed");
            guard.lock();
            merge.emplace(state_.remote, changed, caseTwins);
        };
        listing.cursor = store_->streamAll(
            [&](RemoteEntry& entry) {
                if (!merge) start();
                merge->add(entry);
            },
            listing.unsyncable);
        if (!merge) start();
        merge->finish();
    } else {
        guard.lock();
        apply(state_.remote, listing.entries, changed);
    }
    for (const auto& [path, reason] : listing.unsyncable) leaveOut(path, reason);
    for (const auto& [path, kept] : caseTwins)
        leaveOut(path, "its name in " + name_ + " differs from " + kept + " only by letter case");
    for (const std::string& key : changed) markStateChanged(key);
    // Every save carries the cursor.
    if (state_.cursor != listing.cursor) stateChanged_ = true;
    state_.cursor = std::move(listing.cursor);
    return changed;
}

bool DropboxSyncer::pass(bool folderMissing) {
    std::set<std::string> done;           // keys given up in this pass
    std::map<std::string, int> attempts;  // starts per key in this pass
    bool again = false;
    bool first = true;
    bool localGone = false, remoteGone = false;
    // After a round that ran all its actions, the next one only confirms
    // them: it looks at the keys they touched instead of both whole trees.
    std::optional<Scan> settled;
    std::set<std::string> touched;
    while (true) {
        double refreshStarted = steadySeconds();
        double now = clock_();
        std::optional<Scan> confirmed;
        if (settled) confirmed = rescanTouched(std::move(*settled), touched, now);
        settled.reset();
        bool confirming = confirmed.has_value();
        // Only the keys the round touched, and any the store lists as changed
        // since, can come out otherwise than they just did.
        std::optional<std::set<std::string>> recheck;
        if (confirming) {
            recheck = touched;
            if (store_->listsChanges()) recheck->merge(refreshRemote());
        }
        Scan scan = confirming ? std::move(*confirmed) : listBoth(now);
        if (first) {
            std::tie(localGone, remoteGone) = goneSides(scan, folderMissing);
            first = false;
        }
        std::vector<Action> actions = decideAll(scan, localGone, remoteGone, done, recheck ? &*recheck : nullptr);
        if (confirming) {
            if (actions.empty()) return again;
            continue;  // something is left over: look at everything again
        }
        if (guardDeletions(actions)) actions = decideAll(scan, localGone, remoteGone, done);
        if (actions.empty()) return again;
        std::stable_sort(actions.begin(), actions.end(), runsBefore);
        double refreshCost = steadySeconds() - refreshStarted;
        if (runActions(actions, scan, done, attempts, refreshCost, again)) {
            touched.clear();
            for (const Action& action : actions) touched.insert(action.key);
            settled = std::move(scan);
        }
    }
}

DropboxSyncer::Scan DropboxSyncer::listBoth(double now) {
    // The local walk and the remote listing are independent: run them side
    // by side. The walk's files are classified once the listing is merged:
    // doing both at once would hold both trees' files in memory together.
    ignoreRules_ = IgnoreRules::load(folder_);
    auto walking = std::async(std::launch::async, [this, now] { return walkLocal(now); });
    if (listedAhead_.valid())
        listedAhead_.get();
    else
        refreshRemote();
    return classify(walking.get(), now);
}

bool DropboxSyncer::runActions(const std::vector<Action>& actions, const Scan& scan, std::set<std::string>& done,
                               std::map<std::string, int>& attempts, double refreshCost, bool& again) {
    double working = 0;
    for (size_t at = 0; at < actions.size();) {
        size_t end = std::min(actions.size(), at + kBatchSize);
        std::vector<Action> batch;
        for (; at < end; ++at) {
            const Action& action = actions[at];
            if (done.count(action.key)) continue;
            if (++attempts[action.key] > kMaxStarts) {
                fail(action.key, scan.local, "it did not settle");
                done.insert(action.key);
                continue;
            }
            batch.push_back(action);
        }
        double started = steadySeconds();
        bool stale = false;
        bool resolved = run(batch, scan, done, stale);
        // Conflicts settled in this batch are recorded at once, so a pass
        // killed later does not settle them again.
        if (resolved) saveState();
        again = resolved || again;
        working += steadySeconds() - started;
        if (onProgress_) onProgress_(static_cast<int>(actions.size() - at));
        if (stale) return false;
        // A long round looks at both sides again now and then, to pick up
        // what changed meanwhile.
        if (at < actions.size() && working >= std::max(kRefreshRatio * refreshCost, kRefreshFloorSeconds)) return false;
    }
    return true;
}

std::pair<bool, bool> DropboxSyncer::goneSides(const Scan& scan, bool folderMissing) {
    std::lock_guard<std::mutex> guard(lock_);
    size_t bases = state_.base.size();
    bool localGone =
        folderMissing || accountUnknown_ || (scan.local.empty() && bases > kGoneBaseEntries && scan.busy.empty());
    bool remoteGone = accountUnknown_ || (state_.remote.empty() && bases > kGoneBaseEntries);
    return {localGone, remoteGone};
}

std::vector<DropboxSyncer::Action> DropboxSyncer::decideAll(const Scan& scan, bool localGone, bool remoteGone,
                                                            std::set<std::string>& done,
                                                            const std::set<std::string>* only) {
    std::vector<Action> actions;
    if (!only) hashAhead(scan, done);
    auto consider = [&](const std::string& key, const Local* file, const SyncBase* recorded, const RemoteFile* listed) {
        if ((!scan.busy.empty() && scan.busy.count(key)) || (!done.empty() && done.count(key))) return;
        // An ignored path stays as it is on both sides, and so does its base:
        // a rule added for a synced file must not turn into its deletion.
        const std::string& shown = file ? file->path : recorded ? recorded->path : listed ? listed->path : key;
        if (ignoreRules_.ignores(shown)) return;
        try {
            if (auto action = decide(key, file, recorded, listed, localGone, remoteGone))
                actions.push_back(std::move(*action));
        } catch (const std::exception& error) {
            fail(key, scan.local, error.what());
            done.insert(key);
        }
    };
    if (only) {
        for (const std::string& key : *only) {
            auto file = scan.local.find(key);
            const SyncBase* recorded = nullptr;
            const RemoteFile* listed = nullptr;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (auto at = state_.base.find(key); at != state_.base.end()) recorded = &at->second;
                if (auto at = state_.remote.find(key); at != state_.remote.end()) listed = &at->second;
            }
            consider(key, file != scan.local.end() ? &file->second : nullptr, recorded, listed);
        }
        return actions;
    }
    // Walk the three sorted key sets together. No worker runs now, so the
    // maps change only through reconcile on this thread, and only at the key
    // just passed, which keeps the iterators valid.
    std::string key;
    auto local = scan.local.begin();
    std::map<std::string, SyncBase>::const_iterator base, baseEnd;
    std::map<std::string, RemoteFile>::const_iterator remote, remoteEnd;
    {
        std::lock_guard<std::mutex> guard(lock_);
        base = state_.base.begin(), baseEnd = state_.base.end();
        remote = state_.remote.begin(), remoteEnd = state_.remote.end();
    }
    while (local != scan.local.end() || base != baseEnd || remote != remoteEnd) {
        const std::string* least = nullptr;
        if (local != scan.local.end()) least = &local->first;
        if (base != baseEnd && (!least || base->first < *least)) least = &base->first;
        if (remote != remoteEnd && (!least || remote->first < *least)) least = &remote->first;
        key.assign(*least);  // a copy: deciding may remove the record it names
        const Local* file = nullptr;
        const SyncBase* recorded = nullptr;
        const RemoteFile* listed = nullptr;
        if (local != scan.local.end() && local->first == key) file = &(local++)->second;
        if (base != baseEnd && base->first == key) recorded = &(base++)->second;
        if (remote != remoteEnd && remote->first == key) listed = &(remote++)->second;
        consider(key, file, recorded, listed);
    }
    return actions;
}

// base and remote point into state_; only this thread changes it while
// decisions are made (no worker runs then).
std::optional<DropboxSyncer::Action> DropboxSyncer::decide(const std::string& key, const Local* local,
                                                           const SyncBase* base, const RemoteFile* remote,
                                                           bool localGone, bool remoteGone) {
    std::optional<ContentHash> hash;
    if (local && readsBeforeDeciding(base, remote)) {
        hash = localHash(key, *local, base);
    } else if (local) {
        if (const ContentHash* known = knownHash(key, *local, base)) hash = *known;
    }
    SyncDecision decision =
        reconcileKey(key, local, hash ? &*hash : nullptr, base, remote, localGone, remoteGone, name_);
    if (decision.baseChange != SyncDecision::BaseChange::none) {
        std::lock_guard<std::mutex> guard(lock_);
        if (decision.baseChange == SyncDecision::BaseChange::remove) {
            state_.base.erase(key);
            markStateChanged(key);
        } else {
            SyncBase adopted{local->path, *hash, remote->rev, local->size, local->mtimeNs};
            if (!base || *base != adopted) {
                state_.base[key] = std::move(adopted);
                markStateChanged(key);
            }
        }
    }
    if (!decision.logLine.empty()) log_(decision.logLine);
    return std::move(decision.action);
}

bool DropboxSyncer::guardDeletions(std::vector<Action>& actions) {
    long long known = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        known = static_cast<long long>(state_.base.size());
    }
    bool dropped = false;
    for (auto [eachKind, eachSide] : {std::pair{Action::Kind::removeLocal, DeletionsHeld::Side::here},
                                      std::pair{Action::Kind::removeRemote, DeletionsHeld::Side::store}}) {
        const Action::Kind kind = eachKind;
        const DeletionsHeld::Side side = eachSide;
        auto isKind = [kind](const Action& action) { return action.kind == kind; };
        long long gone = std::count_if(actions.begin(), actions.end(), isKind);
        if (!DeletionGuard::tooMany(gone, known) || deletionAnswer_ == DeletionGuard::Answer::deleteThem) continue;
        if (deletionAnswer_ == DeletionGuard::Answer::keepThem) {
            // Without their bases the files count as new where they are
            // left, and are copied back to the side they vanished from.
            std::lock_guard<std::mutex> guard(lock_);
            for (const Action& action : actions) {
                if (!isKind(action)) continue;
                state_.base.erase(action.key);
                markStateChanged(action.key);
            }
            dropped = true;
        } else if (std::none_of(held_.begin(), held_.end(), [side](auto& held) { return held.side() == side; })) {
            held_.emplace_back(name_, side, gone, known);
            log_(held_.back().what());
        }
        std::erase_if(actions, isKind);
    }
    return dropped;
}

bool DropboxSyncer::readsBeforeDeciding(const SyncBase* base, const RemoteFile* remote) const {
    // A new file bound for a store that hashes what it copies is read once,
    // by the upload.
    return base || remote || !store_->hashesUploads();
}

const ContentHash* DropboxSyncer::knownHash(const std::string& key, const Local& local, const SyncBase* base) const {
    // An untouched file keeps the hash recorded for it: no reading at all.
    if (base && base->size == local.size && base->mtimeNs == local.mtimeNs) return &base->hash;
    auto cached = hashes_.find(key);
    if (cached != hashes_.end() && cached->second.size == local.size && cached->second.mtimeNs == local.mtimeNs)
        return &cached->second.hash;
    return nullptr;
}

ContentHash DropboxSyncer::localHash(const std::string& key, const Local& local, const SyncBase* base) {
    if (const ContentHash* known = knownHash(key, local, base)) return *known;
    ContentHash hash = DropboxHash::of(folder_ / local.path);
    hashes_[key] = CachedHash{local.size, local.mtimeNs, hash};
    return hash;
}

void DropboxSyncer::hashAhead(const Scan& scan, const std::set<std::string>& done) {
    std::vector<std::pair<const std::string*, const Local*>> wanted;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto base = state_.base.begin();
        auto remote = state_.remote.begin();
        for (const auto& [key, local] : scan.local) {
            while (base != state_.base.end() && base->first < key) ++base;
            while (remote != state_.remote.end() && remote->first < key) ++remote;
            const SyncBase* recorded = base != state_.base.end() && base->first == key ? &base->second : nullptr;
            const RemoteFile* listed =
                remote != state_.remote.end() && remote->first == key ? &remote->second : nullptr;
            if (!readsBeforeDeciding(recorded, listed) || knownHash(key, local, recorded) || scan.busy.count(key) ||
                done.count(key) || ignoreRules_.ignores(local.path))
                continue;
            wanted.emplace_back(&key, &local);
        }
    }
    if (wanted.size() < kHashAheadFiles) return;
    std::vector<std::optional<ContentHash>> hashes(wanted.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < wanted.size(); i = next++) {
            try {
                hashes[i] = DropboxHash::of(folder_ / wanted[i].second->path);
            } catch (...) {
                // Left to decide(), which hashes it again and reports the failure.
            }
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (!hashes[i]) continue;
        const Local& local = *wanted[i].second;
        hashes_[*wanted[i].first] = CachedHash{local.size, local.mtimeNs, std::move(*hashes[i])};
    }
}

bool DropboxSyncer::run(const std::vector<Action>& batch, const Scan& scan, std::set<std::string>& done, bool& stale) {
    std::vector<Outcome> outcomes;
    std::vector<const Action*> transfers;
    for (const Action& action : batch) {
        if (action.group != 0) {
            transfers.push_back(&action);
            continue;
        }
        Outcome outcome;
        outcome.key = action.key;
        try {
            outcome.again = perform(action);
        } catch (const StaleAction&) {
            outcome.stale = true;
        } catch (...) {
            outcome.failure = std::current_exception();
        }
        outcomes.push_back(std::move(outcome));
    }

    std::mutex finishedLock;  // guards outcomes while the workers run
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < transfers.size(); i = next++) {
            Outcome outcome;
            outcome.key = transfers[i]->key;
            try {
                outcome.again = perform(*transfers[i]);
            } catch (const StaleAction&) {
                outcome.stale = true;
            } catch (...) {
                outcome.failure = std::current_exception();
            }
            std::lock_guard<std::mutex> guard(finishedLock);
            outcomes.push_back(std::move(outcome));
        }
    };
    size_t threads = std::min(transfers.size(), static_cast<size_t>(workers_));
    if (threads == 1) {
        work();
    } else if (threads > 1) {
        std::vector<std::thread> pool;
        for (size_t i = 0; i < threads; ++i) pool.emplace_back(work);
        for (auto& thread : pool) thread.join();
    }

    bool again = false;
    for (const Outcome& outcome : outcomes) {
        if (outcome.failure) {
            fail(outcome.key, scan.local, messageOf(outcome.failure));
            done.insert(outcome.key);
        } else if (outcome.stale) {
            stale = true;
        } else {
            again = again || outcome.again;
        }
    }
    return again;
}

bool DropboxSyncer::perform(const Action& action) {
    switch (action.kind) {
        case Action::Kind::download:
            return download(action.key, *action.remote, std::nullopt, true, action.local);
        case Action::Kind::upload:
            return upload(action.key, *action.local, action.localHash, action.remote);
        case Action::Kind::conflict:
            return conflict(action.key, *action.local, *action.remote);
        case Action::Kind::removeRemote:
            return removeRemote(action.key, *action.remote);
        case Action::Kind::removeLocal:
            return removeLocalFile(action.key, *action.local);
    }
    return false;
}

}  // namespace brindle
