#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/Error.h"
#include "common/MainLoop.h"
#include "common/SerialQueue.h"
#include "common/SyncEvent.h"
#include "engine/EngineConfig.h"
#include "engine/EngineState.h"
#include "engine/StoreRun.h"
#include "engine/SyncReporter.h"

namespace brindle {

class Syncer;
class BrindleAccess;
class DropboxDriveRuns;
namespace Brindle {
struct Account;
}

// The outcome of one pass: success with the files left out for size or as
// unsyncable, or the failure (an exception whose what() is the text to show).
struct SyncResult {
    std::vector<std::string> skipped;
    std::exception_ptr failure;
    // Files that cannot be kept in step, "store: path: reason", on success too.
    std::vector<std::string> unsyncable{};
    // Stores whose mass deletions were held back (with a failure): (store
    // name, the failure's text).
    std::vector<std::pair<std::string, std::string>> heldDeletions{};

    bool succeeded() const { return failure == nullptr; }
    // The failure's text, "" on success.
    std::string description() const;
};

// No stored account and no user-set GitHub token.
class NeedsSignIn : public Error {
public:
    NeedsSignIn();
};

// A store run that failed in a sweep.
struct RunFailure {
    const StoreRun* run;
    std::exception_ptr error;
    std::string description;
};

// Keeps the Larder folder in step with every store of the user's account, one
// pass at a time. Passes run on the serial queue "larder.sync"; scheduling
// (requestSync) and publishing (onChange) live on the main loop. Create it
// with create(): timers and queued work hold the engine weakly. Destroying it
// skips passes that have not begun and waits for the running one.
class SyncEngine : public std::enable_shared_from_this<SyncEngine> {
public:
    using State = EngineState;
    using OnChange = std::function<void(const State& state, const std::vector<std::string>& skipped)>;
    using PassRunner = std::function<SyncResult()>;
    using Pause = std::function<void(double seconds)>;

    // mainLoop (which must outlive the engine) is needed only for
    // requestSync; the command-line mode runs without one.
    static std::shared_ptr<SyncEngine> create(EngineConfig config = EngineConfig::fromEnvironment(),
                                              MainLoop* mainLoop = nullptr);
    ~SyncEngine();
    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    // One pass on the calling thread: asks the service for the account's
    // stores, runs each, repeats the sweep while the folder changed underneath
    // (with two or more stores), reports to the service. Callers other than the
    // sync queue must not overlap a scheduled pass: use syncOnceExclusive.
    SyncResult syncOnce();
    // One pass on the sync queue, waiting for it; it never overlaps a pass
    // already running. Any thread (on the sync queue it runs directly).
    SyncResult syncOnceExclusive();

    // What one pass would do, changing nothing (no file, no state file, no
    // write to a store, no report to the service): for every store of the
    // account, one line per action prefixed with the store's name
    // ("Stick: upload notes/a.md"), sorted, then one count line per store
    // ("Stick: 3 action(s)", "Stick: not plugged in", or "Stick: could not
    // look: <why>", which leaves complete false), sorted. The git store shows
    // the folder's changes and what its last fetch brought. Throws what
    // syncOnce() fails with before any store runs. Call it on the sync queue
    // or with no pass running.
    struct Preview {
        std::vector<std::string> lines;
        bool complete = true;
    };
    Preview preview();

    // Forgets the cached syncers, the token owner and the GitHub access cache
    // (on the sync queue, before any later pass). Any thread.
    void resetAccount();

    // Asks for a pass `after` seconds from now, but not earlier than 60 seconds
    // after the previous start unless force. Replaces a pending request. Any
    // thread; needs the main loop.
    void requestSync(double after, bool force);
    // Called on the main loop with every published state. Set on the main loop.
    void setOnChange(OnChange onChange) { onChange_ = std::move(onChange); }

    // Read by the menu on the main loop; a reader may see the previous pass's
    // values.
    std::vector<std::string> storeNames() const;
    std::vector<std::string> driveLines() const;
    std::optional<std::string> larderWebURL() const;

    const EngineConfig& config() const { return config_; }

    // Runs the store runs in sweeps: up to 3 sweeps with two or more runs
    // (pausing 1.2 seconds between them), stopping once a sweep leaves the
    // folder as it found it. Returns the failures of the last sweep; each run's
    // events are collected for the closing report.
    std::vector<RunFailure> sweep(const StoreRuns& runs);
    // The pass's result from the last sweep's failures: the first signed-out
    // failure as it is; otherwise every failure's text (prefixed with its run's
    // name when there are several runs) joined by "; "; otherwise success
    // with skipped.
    static SyncResult combine(size_t runCount, const std::vector<RunFailure>& failures,
                              std::vector<std::string> skipped);
    // The menu's drive lines after a pass: label + ": not plugged in" for each
    // drive not plugged in, then for each drive run in run order its name +
    // ": error" when it failed, else ": up to date".
    static std::vector<std::string> driveLinesFor(const StoreRuns& runs, const std::vector<RunFailure>& failures,
                                                  const std::vector<std::string>& notPlugged);

    // Test seams, set before the first pass: the pass a scheduled sync runs
    // (default syncOnce) and the pause between sweeps (default a real sleep).
    void setPassRunner(PassRunner runner) { passRunner_ = std::move(runner); }
    void setPause(Pause pause) { pause_ = std::move(pause); }

private:
    SyncEngine(EngineConfig config, MainLoop* mainLoop);

    // The runs a preview looks at (SyncPreview.cpp).
    StoreRuns previewRuns(std::vector<std::string>& notPlugged);

    // Scheduling (on the main loop and the sync queue).
    void enqueue();
    void runSync();
    void publish(const State& state, std::vector<std::string> skipped);
    State stateFor(const SyncResult& result, std::vector<std::string>& skipped);

    // The pass.
    StoreRuns planRuns(const std::optional<Brindle::Account>& account, std::vector<std::string>& notPlugged);
    void closingReport(const StoreRuns& runs, const std::vector<RunFailure>& failures,
                       const std::vector<std::string>& notPlugged);
    // The files left out by each cached syncer, GitHub first.
    std::vector<std::string> allSkipped() const;
    // Hands a reconciler's "files to go" to the service, rate-limited, with
    // the run's new events.
    void progress(StoreRun& run, long long left);

    // The GitHub runs.
    std::unique_ptr<StoreRun> gitHubRun(std::function<std::shared_ptr<Syncer>()> prepare);
    std::shared_ptr<Syncer> accountSyncer(const Brindle::Account& account);
    std::shared_ptr<Syncer> userTokenSyncer(const std::string& token);
    std::shared_ptr<Syncer> buildSyncer(const std::string& remote, const std::string& web);
    void setViews(std::optional<std::vector<std::string>> names, std::optional<std::optional<std::string>> web);

    EngineConfig config_;
    MainLoop* mainLoop_;
    PassRunner passRunner_;
    Pause pause_;
    OnChange onChange_;  // main loop only

    // Scheduling state: debounce_ and lastStart_ on the main loop.
    std::optional<MainLoop::TimerId> debounce_;
    std::optional<double> lastStart_;
    std::mutex lock_;  // guards queued_
    bool queued_ = false;

    // Caches, touched on the sync queue only.
    std::shared_ptr<Syncer> syncer_;
    std::optional<std::string> owner_;
    std::unique_ptr<BrindleAccess> access_;
    SyncReporter reporter_;
    std::unique_ptr<DropboxDriveRuns> reconcilers_;  // the Dropbox and drive runs

    // What the menu reads; written on the sync queue.
    mutable std::mutex viewLock_;  // guards storeNames_, driveLines_, larderWebURL_
    std::vector<std::string> storeNames_;
    std::vector<std::string> driveLines_;
    std::optional<std::string> larderWebURL_;

    std::atomic<bool> stopping_{false};
    // Last member: destroyed first, so queued work never outlives the fields.
    std::unique_ptr<SerialQueue> queue_;
};

// The pause between sweeps.
inline constexpr double kSweepPause = 1.2;
// Minimum gap between the starts of two unforced passes.
inline constexpr double kMinimumPassGap = 60.0;

}  // namespace brindle
