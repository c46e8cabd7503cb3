#include "engine/SyncEngine.h"

#include "common/Files.h"
#include "engine/DropboxDriveRuns.h"
#include "git/Syncer.h"
#include "service/Keychain.h"

#include <algorithm>

namespace brindle {

namespace fs = std::filesystem;

namespace {

// A folder of its own under the system's temporary folder, removed with the
// object.
struct ScratchFolder {
    fs::path path = fs::temp_directory_path() / ("brindle-preview-" + Files::temporaryName());
    ScratchFolder() { fs::create_directories(path); }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

}  // namespace

StoreRuns SyncEngine::previewRuns(std::vector<std::string>& notPlugged) {
    std::optional<Brindle::Account> account = Brindle::account();
    if (account) return planRuns(account, notPlugged);
    // Signed out, a user-set token syncs the folder; looking at the folder
    // needs no call to GitHub.
    std::optional<std::string> token = Keychain::token();
    if (!token || token->empty()) throw NeedsSignIn();
    StoreRuns runs;
    runs.push_back(gitHubRun([this] {
        return std::make_shared<Syncer>(config_.folder, Git(config_.stateDir / "sync.git", config_.folder), "",
                                        config_.deviceName);
    }));
    return runs;
}

SyncEngine::Preview SyncEngine::preview() {
    std::vector<std::string> notPlugged;
    StoreRuns runs = previewRuns(notPlugged);
    ScratchFolder caches;
    reconcilers_->keepCachesIn(caches.path);
    struct Restore {
        DropboxDriveRuns& runs;
        ~Restore() { runs.keepCachesIn(std::nullopt); }
    } restore{*reconcilers_};

    Preview preview;
    std::vector<std::string> counts;
    for (const auto& run : runs) {
        try {
            std::vector<std::string> actions = run->preview();
            for (const std::string& action : actions) preview.lines.push_back(run->name() + ": " + action);
            counts.push_back(run->name() + ": " + std::to_string(actions.size()) + " action(s)");
        } catch (const std::exception& error) {
            counts.push_back(run->name() + ": could not look: " + error.what());
            preview.complete = false;
        }
    }
    for (const std::string& label : notPlugged) counts.push_back(label + ": not plugged in");
    std::sort(preview.lines.begin(), preview.lines.end());
    std::sort(counts.begin(), counts.end());
    preview.lines.insert(preview.lines.end(), counts.begin(), counts.end());
    return preview;
}

}  // namespace brindle
