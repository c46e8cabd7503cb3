#include "engine/DropboxDriveRuns.h"

#include "drives/DriveMarker.h"
#include "drives/DriveStore.h"
#include "drives/Volumes.h"
#include "dropbox/LarderAccess.h"
#include "threeway/DropboxSyncer.h"
#include "common/Error.h"
#include "common/Files.h"

#include <algorithm>

namespace brindle {

namespace fs = std::filesystem;

DropboxDriveRuns::DropboxDriveRuns(fs::path folder, fs::path stateDir, Progress progress,
                                   std::function<void(const std::string&)> offerWebURL)
    : folder_(std::move(folder)),
      stateDir_(std::move(stateDir)),
      progress_(std::move(progress)),
      offerWebURL_(std::move(offerWebURL)),
      pause_(DropboxAPI::blockingPause),
      makeCredentials_([](const Brindle::Account& account) {
          return std::make_shared<LarderAccess>(account, "dropbox");
      }) {}

DropboxDriveRuns::~DropboxDriveRuns() = default;

DropboxDriveRuns::Run DropboxDriveRuns::dropboxRun(const Brindle::Account& account) {
    return {"Dropbox", [this, account] { syncDropbox(account); }};
}

void DropboxDriveRuns::addDriveRuns(const std::vector<Brindle::Drive>& drives, const Brindle::Account& account,
                                    std::vector<Run>& runs, std::vector<std::string>& notPlugged) {
    // Volumes are looked at only for an account with drives. Read each
    // volume's marker once; an unreadable marker names no drive.
    if (drives.empty()) return;
    std::vector<std::pair<fs::path, std::optional<std::string>>> volumes;
    for (const fs::path& volume : Volumes::mounted()) volumes.emplace_back(volume, DriveMarker::read(volume));
    for (const Brindle::Drive& drive : drives) {
        auto plugged = std::find_if(volumes.begin(), volumes.end(),
                                    [&](const auto& volume) { return volume.second == drive.id; });
        if (plugged == volumes.end()) {
            notPlugged.push_back(drive.label);
            continue;
        }
        runs.push_back({drive.label, [this, id = drive.id, label = drive.label, volume = plugged->first, account] {
                            syncDrive(id, label, volume, account);
                        }});
    }
}

std::function<void(int)> DropboxDriveRuns::progressFor(const std::string& name) const {
    Progress progress = progress_;
    return [progress, name](int left) {
        if (progress) progress(name, left);
    };
}

void DropboxDriveRuns::syncDropbox(const Brindle::Account& account) {
    if (!dropboxSyncer_ || dropboxFor_ != account) {
        auto api = std::make_shared<DropboxAPI>(makeCredentials_(account), pause_);
        dropboxSyncer_ = std::make_unique<DropboxSyncer>(folder_, stateDir_ / "dropbox.json", api, "Dropbox",
                                                         kDropboxMaxFileSize, kDropboxWorkers);
        dropboxSyncer_->setProgress(progressFor("Dropbox"));
        dropboxFor_ = account;
    }
    if (offerWebURL_) offerWebURL_(kDropboxWebURL);
    dropboxSyncer_->sync();
}

void DropboxDriveRuns::syncDrive(const std::string& id, const std::string& label, const fs::path& volume,
                                 const Brindle::Account& account) {
    // The id names files in the state folder.
    if (!Files::isLowerUUID(id)) throw Error("Refusing a drive whose id is not a UUID");
    std::unique_ptr<DropboxSyncer>& syncer = driveSyncers_[id];
    auto store = syncer ? std::dynamic_pointer_cast<DriveStore>(syncer->store()) : nullptr;
    // The same drive under a new label or at a new mount location gets a fresh
    // reconciler over the same state file.
    if (!syncer || syncer->name() != label || !store || store->root() != volume) {
        auto drive = std::make_shared<DriveStore>(volume, id, stateDir_ / ("drive-" + id + "-hashes.json"));
        syncer = std::make_unique<DropboxSyncer>(folder_, stateDir_ / ("drive-" + id + ".json"), drive, label,
                                                 std::nullopt, 1);
        syncer->setProgress(progressFor(label));
    }
    syncer->sync();
    try {
        Brindle::api("POST", "/api/v1/drives/seen", account, nlohmann::json{{"drive_id", id}});
    } catch (...) {
        // Telling the service is a courtesy; the drive is in step either way.
    }
}

DropboxSyncer* DropboxDriveRuns::syncerNamed(const std::string& name) {
    if (name == "Dropbox" && dropboxSyncer_) return dropboxSyncer_.get();
    for (auto& [id, syncer] : driveSyncers_)
        if (syncer && syncer->name() == name) return syncer.get();
    return nullptr;
}

std::optional<DropboxDriveRuns::Reporting> DropboxDriveRuns::reportingFor(const std::string& name) {
    DropboxSyncer* syncer = syncerNamed(name);
    if (!syncer) return std::nullopt;
    return Reporting{[syncer] { return syncer->takeEvents(); },
                     [syncer] {
                         DropboxSyncer::Totals totals = syncer->totals();
                         return std::pair<int64_t, int64_t>{totals.files, totals.bytes};
                     }};
}

std::vector<std::string> DropboxDriveRuns::driveLines(const std::vector<std::string>& runNames,
                                                      const std::vector<std::string>& failedNames,
                                                      const std::vector<std::string>& notPlugged) const {
    std::vector<std::string> lines;
    for (const std::string& label : notPlugged) lines.push_back(label + ": not plugged in");
    for (const std::string& name : runNames) {
        bool isDrive = std::any_of(driveSyncers_.begin(), driveSyncers_.end(),
                                   [&](const auto& entry) { return entry.second && entry.second->name() == name; });
        if (!isDrive) continue;
        bool failed = std::find(failedNames.begin(), failedNames.end(), name) != failedNames.end();
        lines.push_back(name + (failed ? ": error" : ": up to date"));
    }
    return lines;
}

std::vector<std::string> DropboxDriveRuns::skipped() const {
    std::vector<std::string> files;
    if (dropboxSyncer_) files = dropboxSyncer_->skippedFiles();
    for (const auto& [id, syncer] : driveSyncers_) {
        if (!syncer) continue;
        std::vector<std::string> more = syncer->skippedFiles();
        files.insert(files.end(), more.begin(), more.end());
    }
    return files;
}

void DropboxDriveRuns::reset() {
    dropboxSyncer_.reset();
    dropboxFor_.reset();
    driveSyncers_.clear();
}

}  // namespace brindle
