#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dropbox/DropboxAPI.h"
#include "dropbox/DropboxCredentials.h"
#include "engine/StoreRun.h"
#include "service/Brindle.h"

namespace brindle {

class DropboxSyncer;

// The engine's store runs that the three-way reconciler drives: the account's
// Dropbox app folder and every registered USB drive that is plugged in. Keeps
// one cached reconciler per store, rebuilt when what it was built for
// changes (the account for Dropbox; the label or mount location for a drive).
// Used on the engine's sync queue only.
class DropboxDriveRuns {
public:
    // Told "files to go" by a reconciler between its batches, with the run
    // that is syncing (hold the engine weakly).
    using Progress = std::function<void(StoreRun& run, long long left)>;
    // Makes the Dropbox credential source for an account (default: the
    // service's hand-out, LarderAccess with "dropbox").
    using CredentialsMaker = std::function<std::shared_ptr<DropboxCredentials>(const Brindle::Account&)>;

    // folder: the Larder folder; stateDir: where state files and drive hash
    // caches live; offerWebURL: called with the Dropbox web page of the app
    // folder on each Dropbox run, for the engine to keep when it has no web
    // page yet.
    DropboxDriveRuns(std::filesystem::path folder, std::filesystem::path stateDir, Progress progress,
                     std::function<void(const std::string&)> offerWebURL);
    ~DropboxDriveRuns();
    DropboxDriveRuns(const DropboxDriveRuns&) = delete;
    DropboxDriveRuns& operator=(const DropboxDriveRuns&) = delete;

    // The Dropbox run, named "Dropbox".
    std::unique_ptr<StoreRun> dropboxRun(const Brindle::Account& account);
    // For each registered drive in order: a run named after its label when a
    // mounted volume's marker names it, else its label in notPlugged.
    void addDriveRuns(const std::vector<Brindle::Drive>& drives, const Brindle::Account& account, StoreRuns& runs,
                      std::vector<std::string>& notPlugged);

    // Files left out for size: the Dropbox reconciler's, then each drive's.
    std::vector<std::string> skipped() const;
    // Forgets every cached reconciler (after a change of account).
    void reset();
    // Drive hash caches are copied into folder and used there from now on,
    // so that the state folder stays as it is (a preview); none: back to the
    // state folder. Forgets the cached reconcilers.
    void keepCachesIn(std::optional<std::filesystem::path> folder);

    // For tests: the pause of the Dropbox client between attempts (default:
    // a real sleep) and where its credentials come from.
    void setPause(DropboxAPI::Pause pause) { pause_ = std::move(pause); }
    void setCredentialsMaker(CredentialsMaker maker) { makeCredentials_ = std::move(maker); }

    // The Dropbox web page of the app folder.
    static constexpr const char* kDropboxWebURL = "https://www.dropbox.com/home/Apps/Brindle";
    static constexpr int64_t kDropboxMaxFileSize = 100 * 1048576LL;
    static constexpr int kDropboxWorkers = 6;

private:
    using ReconcilerRun = SyncerRun<DropboxSyncer>;

    std::shared_ptr<DropboxSyncer> dropboxSyncer(const Brindle::Account& account, StoreRun& run);
    std::shared_ptr<DropboxSyncer> driveSyncer(const std::string& id, const std::string& label,
                                               const std::filesystem::path& volume, StoreRun& run);
    // Where drive id's hash cache is used (see keepCachesIn).
    std::filesystem::path cacheFile(const std::string& id) const;
    // Points the syncer's progress at this pass's run.
    void followProgress(DropboxSyncer& syncer, StoreRun& run) const;

    const std::filesystem::path folder_;
    const std::filesystem::path stateDir_;
    std::optional<std::filesystem::path> cacheFolder_;
    Progress progress_;
    std::function<void(const std::string&)> offerWebURL_;
    DropboxAPI::Pause pause_;
    CredentialsMaker makeCredentials_;

    std::shared_ptr<DropboxSyncer> dropboxSyncer_;
    std::optional<Brindle::Account> dropboxFor_;
    std::map<std::string, std::shared_ptr<DropboxSyncer>> driveSyncers_;  // by drive id
};

}  // namespace brindle
