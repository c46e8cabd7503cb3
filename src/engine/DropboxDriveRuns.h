#pragma once

#include "common/SyncEvent.h"
#include "dropbox/DropboxAPI.h"
#include "dropbox/DropboxCredentials.h"
#include "service/Brindle.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

class DropboxSyncer;

// The engine's store runs that the three-way reconciler drives: the account's
// Dropbox app folder and every registered USB drive that is plugged in. Keeps
// one cached reconciler per store, rebuilt when what it was built for
// changes (the account for Dropbox; the label or mount location for a drive).
// Used on the engine's sync queue only.
class DropboxDriveRuns {
public:
    // A store run as the engine sweeps it: its name and what syncs it.
    struct Run {
        std::string name;
        std::function<void()> run;
    };
    using Progress = std::function<void(const std::string& name, long long left)>;
    // Makes the Dropbox credential source for an account (default: the
    // service's hand-out, LarderAccess with "dropbox").
    using CredentialsMaker = std::function<std::shared_ptr<DropboxCredentials>(const Brindle::Account&)>;

    // folder: the Larder folder; stateDir: where state files and drive hash
    // caches live; progress: told "files to go" between reconciler batches
    // (hold the engine weakly); offerWebURL: called with the Dropbox web page
    // of the app folder on each Dropbox run, for the engine to keep when it
    // has no web page yet.
    DropboxDriveRuns(std::filesystem::path folder, std::filesystem::path stateDir, Progress progress,
                     std::function<void(const std::string&)> offerWebURL);
    ~DropboxDriveRuns();
    DropboxDriveRuns(const DropboxDriveRuns&) = delete;
    DropboxDriveRuns& operator=(const DropboxDriveRuns&) = delete;

    // The Dropbox run, named "Dropbox".
    Run dropboxRun(const Brindle::Account& account);
    // For each registered drive in order: a run named after its label when a
    // mounted volume's marker names it, else its label in notPlugged.
    void addDriveRuns(const std::vector<Brindle::Drive>& drives, const Brindle::Account& account,
                      std::vector<Run>& runs, std::vector<std::string>& notPlugged);

    // The cached reconciler behind a run's name ("Dropbox" or a drive's label).
    DropboxSyncer* syncerNamed(const std::string& name);
    // What the engine reports of that reconciler: drain takes its events (under
    // the reconciler's lock), totals gives (files, bytes) of its listing.
    struct Reporting {
        std::function<std::vector<SyncEvent>()> drain;
        std::function<std::pair<int64_t, int64_t>()> totals;
    };
    std::optional<Reporting> reportingFor(const std::string& name);
    // The menu's drive lines after a pass: label + ": not plugged in" for each
    // drive not plugged in, then for each drive run in run order its name +
    // ": error" when failedNames holds it, else ": up to date".
    std::vector<std::string> driveLines(const std::vector<std::string>& runNames,
                                        const std::vector<std::string>& failedNames,
                                        const std::vector<std::string>& notPlugged) const;
    // Files left out for size: the Dropbox reconciler's, then each drive's.
    std::vector<std::string> skipped() const;
    // Forgets every cached reconciler (after a change of account).
    void reset();

    // For tests: the pause of the Dropbox client between attempts (default:
    // a real sleep) and where its credentials come from.
    void setPause(DropboxAPI::Pause pause) { pause_ = std::move(pause); }
    void setCredentialsMaker(CredentialsMaker maker) { makeCredentials_ = std::move(maker); }

    // The Dropbox web page of the app folder.
    static constexpr const char* kDropboxWebURL = "https://www.dropbox.com/home/Apps/Brindle";
    static constexpr int64_t kDropboxMaxFileSize = 100 * 1048576LL;
    static constexpr int kDropboxWorkers = 6;

private:
    void syncDropbox(const Brindle::Account& account);
    void syncDrive(const std::string& id, const std::string& label, const std::filesystem::path& volume,
                   const Brindle::Account& account);
    std::function<void(int)> progressFor(const std::string& name) const;

    const std::filesystem::path folder_;
    const std::filesystem::path stateDir_;
    Progress progress_;
    std::function<void(const std::string&)> offerWebURL_;
    DropboxAPI::Pause pause_;
    CredentialsMaker makeCredentials_;

    std::unique_ptr<DropboxSyncer> dropboxSyncer_;
    std::optional<Brindle::Account> dropboxFor_;
    std::map<std::string, std::unique_ptr<DropboxSyncer>> driveSyncers_;  // by drive id
};

}  // namespace brindle
