#include "engine/DropboxDriveRuns.h"

#include <algorithm>

#include "common/Error.h"
#include "common/Files.h"
#include "drives/DriveMarker.h"
#include "drives/DriveStore.h"
#include "drives/Volumes.h"
#include "dropbox/LarderAccess.h"
#include "threeway/DropboxSyncer.h"

namespace brindle {

namespace fs = std::filesystem;

DropboxDriveRuns::DropboxDriveRuns(fs::path folder, fs::path stateDir, Progress progress,
                                   std::function<void(const std::string&)> offerWebURL)
    : folder_(std::move(folder)),
      stateDir_(std::move(stateDir)),
      progress_(std::move(progress)),
      offerWebURL_(std::move(offerWebURL)),
      pause_(DropboxAPI::blockingPause),
      makeCredentials_(
          [](const Brindle::Account& account) { return std::make_shared<LarderAccess>(account, "dropbox"); }) {}

DropboxDriveRuns::~DropboxDriveRuns() = default;

std::unique_ptr<StoreRun> DropboxDriveRuns::dropboxRun(const Brindle::Account& account) {
    return std::make_unique<ReconcilerRun>("Dropbox", StoreRun::Kind::dropbox,
                                           [this, account](ReconcilerRun& run) { return dropboxSyncer(account, run); });
}

void DropboxDriveRuns::addDriveRuns(const std::vector<Brindle::Drive>& drives, const Brindle::Account& account,
                                    StoreRuns& runs, std::vector<std::string>& notPlugged) {
    // Volumes are looked at only for an account with drives. Read each
    // volume's marker once; an unreadable marker names no drive.
    if (drives.empty()) return;
    std::vector<std::pair<fs::path, std::optional<std::string>>> volumes;
    for (const fs::path& volume : Volumes::mounted()) volumes.emplace_back(volume, DriveMarker::read(volume));
    for (const Brindle::Drive& drive : drives) {
        auto plugged =
            std::find_if(volumes.begin(), volumes.end(), [&](const auto& volume) { return volume.second == drive.id; });
        if (plugged == volumes.end()) {
            notPlugged.push_back(drive.label);
            continue;
        }
        auto prepare = [this, id = drive.id, label = drive.label, volume = plugged->first](ReconcilerRun& run) {
            return driveSyncer(id, label, volume, run);
        };
        auto seen = [id = drive.id, account](DropboxSyncer&) {
            try {
                Brindle::api("POST", "/api/v1/drives/seen", account, nlohmann::json{{"drive_id", id}});
            } catch (...) {
                // Telling the service is a courtesy; the drive is in step either way.
            }
        };
        runs.push_back(std::make_unique<ReconcilerRun>(drive.label, StoreRun::Kind::drive, prepare, seen));
    }
}

void DropboxDriveRuns::followProgress(DropboxSyncer& syncer, StoreRun& run) const {
    // The syncer outlives the run, but reports progress only inside the
    // run's sync(), so the run is alive whenever this is called.
    syncer.setProgress([progress = progress_, &run](int left) {
        if (progress) progress(run, left);
    });
}

std::shared_ptr<DropboxSyncer> DropboxDriveRuns::dropboxSyncer(const Brindle::Account& account, StoreRun& run) {
    if (!dropboxSyncer_ || dropboxFor_ != account) {
        auto api = std::make_shared<DropboxAPI>(makeCredentials_(account), pause_);
        dropboxSyncer_ = std::make_shared<DropboxSyncer>(folder_, stateDir_ / "dropbox.json", api, "Dropbox",
                                                         kDropboxMaxFileSize, kDropboxWorkers);
        dropboxFor_ = account;
    }
    followProgress(*dropboxSyncer_, run);
    if (offerWebURL_) offerWebURL_(kDropboxWebURL);
    return dropboxSyncer_;
}

std::shared_ptr<DropboxSyncer> DropboxDriveRuns::driveSyncer(const std::string& id, const std::string& label,
                                                             const fs::path& volume, StoreRun& run) {
    std::shared_ptr<DropboxSyncer>& syncer = driveSyncers_[id];
    // The id names files in the state folder.
    if (!Files::isLowerUUID(id)) throw Error("Refusing a drive whose id is not a UUID");
    auto store = syncer ? std::dynamic_pointer_cast<DriveStore>(syncer->store()) : nullptr;
    // The same drive under a new label or at a new mount location gets a fresh
    // reconciler over the same state file.
    if (!syncer || syncer->name() != label || !store || store->root() != volume) {
        auto drive = std::make_shared<DriveStore>(volume, id, cacheFile(id));
        syncer = std::make_shared<DropboxSyncer>(folder_, stateDir_ / ("drive-" + id + ".json"), drive, label,
                                                 std::nullopt, 1);
    }
    followProgress(*syncer, run);
    return syncer;
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

fs::path DropboxDriveRuns::cacheFile(const std::string& id) const {
    const std::string name = "drive-" + id + "-hashes.json";
    if (!cacheFolder_) return stateDir_ / name;
    std::error_code ignored;
    fs::copy_file(stateDir_ / name, *cacheFolder_ / name, fs::copy_options::overwrite_existing, ignored);
    return *cacheFolder_ / name;
}

void DropboxDriveRuns::keepCachesIn(std::optional<fs::path> folder) {
    cacheFolder_ = std::move(folder);
    reset();
}

void DropboxDriveRuns::reset() {
    dropboxSyncer_.reset();
    dropboxFor_.reset();
    driveSyncers_.clear();
}

}  // namespace brindle
