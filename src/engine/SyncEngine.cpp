#include "engine/SyncEngine.h"

#include "common/DeletionsHeld.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/Log.h"
#include "engine/DropboxDriveRuns.h"
#include "engine/Fingerprint.h"
#include "git/Syncer.h"
#include "service/Brindle.h"
#include "service/BrindleAccess.h"
#include "service/GitHub.h"
#include "service/GitHubError.h"
#include "service/Keychain.h"
#include "threeway/DropboxSyncer.h"

namespace brindle {

namespace {

// The repository a user-set token syncs with, under the token owner's name.
constexpr const char* kLegacyRepository = "Larder";

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& known) {
        return known.what();
    } catch (...) {
        return "Unknown error.";
    }
}

bool isGitHubError(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const GitHubError&) {
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<std::pair<std::string, std::string>> heldDeletion(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const DeletionsHeld& held) {
        return std::pair{held.store(), std::string(held.what())};
    } catch (...) {
        return std::nullopt;
    }
}

bool isSignedOut(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Brindle::Failure& failure) {
        return failure.problem() == Brindle::Problem::signedOut;
    } catch (...) {
        return false;
    }
}

void realPause(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::vector<nlohmann::json> items(const nlohmann::json& array) {
    return std::vector<nlohmann::json>(array.begin(), array.end());
}

}  // namespace

std::string SyncResult::description() const {
    return failure ? describe(failure) : std::string();
}

NeedsSignIn::NeedsSignIn() : Error(Brindle::kSignedOutMessage) {}

std::shared_ptr<SyncEngine> SyncEngine::create(EngineConfig config, MainLoop* mainLoop) {
    std::shared_ptr<SyncEngine> engine(new SyncEngine(std::move(config), mainLoop));
    // The reconcilers' callbacks hold the engine weakly.
    std::weak_ptr<SyncEngine> weak = engine;
    engine->reconcilers_ = std::make_unique<DropboxDriveRuns>(
        engine->config_.folder, engine->config_.stateDir,
        [weak](StoreRun& run, long long left) {
            if (auto self = weak.lock()) self->progress(run, left);
        },
        [weak](const std::string& web) {
            auto self = weak.lock();
            if (!self) return;
            std::lock_guard<std::mutex> guard(self->viewLock_);
            if (!self->larderWebURL_) self->larderWebURL_ = web;
        });
    return engine;
}

SyncEngine::SyncEngine(EngineConfig config, MainLoop* mainLoop)
    : config_(std::move(config)),
      mainLoop_(mainLoop),
      pause_(realPause),
      access_(std::make_unique<BrindleAccess>()),
      reporter_(config_.progressSeconds),
      queue_(std::make_unique<SerialQueue>("larder.sync")) {}

SyncEngine::~SyncEngine() {
    if (mainLoop_ && debounce_) mainLoop_->cancel(*debounce_);
    stopping_ = true;
    queue_.reset();  // waits for the running pass; the ones not begun are skipped
}

SyncResult SyncEngine::syncOnceExclusive() {
    if (queue_->isCurrent()) return syncOnce();
    SyncResult result;
    queue_->sync([&] { result = syncOnce(); });
    return result;
}

void SyncEngine::resetAccount() {
    queue_->async([this] {
        owner_.reset();
        syncer_.reset();
        access_ = std::make_unique<BrindleAccess>();
        if (reconcilers_) reconcilers_->reset();
    });
}

std::vector<std::string> SyncEngine::allSkipped() const {
    std::vector<std::string> skipped;
    if (syncer_) skipped = syncer_->skippedFiles();
    if (reconcilers_) {
        std::vector<std::string> more = reconcilers_->skipped();
        skipped.insert(skipped.end(), more.begin(), more.end());
    }
    return skipped;
}

SyncResult SyncEngine::syncOnce() {
    SyncResult result;
    try {
        std::optional<Brindle::Account> account = Brindle::account();
        std::vector<std::string> notPlugged;
        StoreRuns runs = planRuns(account, notPlugged);
        std::vector<std::string> names;
        for (const auto& run : runs) names.push_back(run->name());
        setViews(names, std::nullopt);

        SyncReporter::Send send;
        if (account) {
            send = [account = *account](const nlohmann::json& events, const nlohmann::json& status) {
                Brindle::report(account, items(events), items(status));
            };
        }
        reporter_.begin(send);
        reporter_.opening(names, notPlugged);
        std::vector<RunFailure> failures = sweep(runs);
        closingReport(runs, failures, notPlugged);
        std::vector<std::string> lines = driveLinesFor(runs, failures, notPlugged);
        {
            std::lock_guard<std::mutex> guard(viewLock_);
            driveLines_ = std::move(lines);
        }
        SyncResult combined = combine(runs.size(), failures, allSkipped());
        for (const auto& run : runs)
            for (const std::string& line : run->unsyncable()) combined.unsyncable.push_back(run->name() + ": " + line);
        return combined;
    } catch (...) {
        result.failure = std::current_exception();
    }
    return result;
}

StoreRuns SyncEngine::planRuns(const std::optional<Brindle::Account>& account, std::vector<std::string>& notPlugged) {
    StoreRuns runs;
    if (!account) {
        // Signed out of Brindle: a GitHub token the user set still syncs.
        std::optional<std::string> token = Keychain::token();
        if (!token || token->empty()) throw NeedsSignIn();
        runs.push_back(gitHubRun([this, token = *token] { return userTokenSyncer(token); }));
        return runs;
    }
    Brindle::LarderConfig config = Brindle::larderConfig(*account);
    if (config.stores.empty() && config.drives.empty())
        throw Brindle::Failure(
            Brindle::Problem::noStore,
            "Your Larder isn't connected yet. Connect GitHub or Dropbox at " + account->server + "/connections");
    for (const auto& store : config.stores) {
        if (store == "github") runs.push_back(gitHubRun([this, account = *account] { return accountSyncer(account); }));
        if (store == "dropbox") runs.push_back(reconcilers_->dropboxRun(*account));
        // Names this build does not know get no run.
    }
    reconcilers_->addDriveRuns(config.drives, *account, runs, notPlugged);
    return runs;
}

std::vector<RunFailure> SyncEngine::sweep(const StoreRuns& runs) {
    // One run never sweeps again, so it needs no fingerprint at all; with
    // several, the fingerprint after one sweep is the one before the next.
    const bool several = runs.size() >= 2;
    const size_t limit = several ? 3 : 1;
    std::vector<RunFailure> failures;
    size_t before = several ? fingerprint(config_.folder) : 0;
    for (size_t round = 0; round < limit; ++round) {
        if (round > 0) pause_(kSweepPause);
        failures.clear();
        for (const auto& run : runs) {
            try {
                run->run();
            } catch (...) {
                std::exception_ptr error = std::current_exception();
                if (isGitHubError(error)) {
                    // The run keeps its syncer, so its events are still reported.
                    owner_.reset();
                    syncer_.reset();
                }
                failures.push_back({run.get(), error, describe(error)});
                if (runs.size() >= 2) Log::write(run->name() + ": " + failures.back().description);
            }
            reporter_.collect(run->name(), run->takeEvents());
        }
        if (!several) break;
        size_t after = fingerprint(config_.folder);
        if (after == before) break;
        before = after;
    }
    return failures;
}

void SyncEngine::progress(StoreRun& run, long long left) {
    reporter_.progress(run.name(), left, [&run] { return run.takeEvents(); });
}

void SyncEngine::closingReport(const StoreRuns& runs, const std::vector<RunFailure>& failures,
                               const std::vector<std::string>& notPlugged) {
    std::vector<SyncReporter::RunOutcome> outcomes;
    for (const auto& run : runs) {
        SyncReporter::RunOutcome outcome{run->name(), std::nullopt, std::nullopt, {}};
        for (const auto& failure : failures) {
            if (failure.run != run.get()) continue;
            outcome.error = failure.description;
            break;
        }
        if (auto totals = run->totals()) outcome.totals = std::pair<int64_t, int64_t>{totals->files, totals->bytes};
        outcome.unsyncable = run->unsyncable();
        outcomes.push_back(std::move(outcome));
    }
    reporter_.flush(SyncReporter::closingStatuses(outcomes, notPlugged));
}

SyncResult SyncEngine::combine(size_t runCount, const std::vector<RunFailure>& failures,
                               std::vector<std::string> skipped) {
    SyncResult result;
    for (const auto& failure : failures) {
        if (isSignedOut(failure.error)) {
            result.failure = failure.error;
            return result;
        }
    }
    if (!failures.empty()) {
        std::string message;
        for (const auto& failure : failures) {
            if (!message.empty()) message += "; ";
            message += runCount == 1 ? failure.description : failure.run->name() + ": " + failure.description;
        }
        result.failure = std::make_exception_ptr(Brindle::Failure(Brindle::Problem::other, message));
        for (const auto& failure : failures)
            if (auto held = heldDeletion(failure.error)) result.heldDeletions.push_back(std::move(*held));
        return result;
    }
    result.skipped = std::move(skipped);
    return result;
}

std::vector<std::string> SyncEngine::driveLinesFor(const StoreRuns& runs, const std::vector<RunFailure>& failures,
                                                   const std::vector<std::string>& notPlugged) {
    std::vector<std::string> lines;
    for (const std::string& label : notPlugged) lines.push_back(label + ": not plugged in");
    for (const auto& run : runs) {
        if (run->kind() != StoreRun::Kind::drive) continue;
        bool failed = std::any_of(failures.begin(), failures.end(),
                                  [&](const RunFailure& failure) { return failure.run == run.get(); });
        lines.push_back(run->name() + (failed ? ": error" : ": up to date"));
    }
    return lines;
}

// ---- The GitHub runs ---------------------------------------------------------

std::unique_ptr<StoreRun> SyncEngine::gitHubRun(std::function<std::shared_ptr<Syncer>()> prepare) {
    return std::make_unique<SyncerRun<Syncer>>("GitHub", StoreRun::Kind::gitHub,
                                               [prepare = std::move(prepare)](auto&) { return prepare(); });
}

std::shared_ptr<Syncer> SyncEngine::accountSyncer(const Brindle::Account& account) {
    BrindleAccess::Grant grant = access_->get(account, BrindleAccess::Clock::now());
    std::string remote = config_.remoteBase + "/" + grant.repo + ".git";
    std::string web = std::string(kGitHubWebBase) + "/" + grant.repo;
    std::shared_ptr<Syncer> syncer = syncer_ && syncer_->remoteURL() == remote ? syncer_ : buildSyncer(remote, web);
    syncer->git().setToken(grant.token);
    return syncer;
}

std::shared_ptr<Syncer> SyncEngine::userTokenSyncer(const std::string& token) {
    if (!syncer_) {
        owner_ = GitHub::currentUser(token);
        GitHub::ensureRepo(*owner_, kLegacyRepository, token);
        std::string repo = *owner_ + "/" + kLegacyRepository;
        // The remote honours LARDER_GITHUB_BASE as the account's run does.
        buildSyncer(config_.remoteBase + "/" + repo + ".git", std::string(kGitHubWebBase) + "/" + repo);
    }
    syncer_->git().setToken(token);
    return syncer_;
}

std::shared_ptr<Syncer> SyncEngine::buildSyncer(const std::string& remote, const std::string& web) {
    setViews(std::nullopt, std::optional<std::string>(web));
    Git git(config_.stateDir / "sync.git", config_.folder);
    syncer_ = std::make_shared<Syncer>(config_.folder, std::move(git), remote, config_.deviceName);
    return syncer_;
}

// ---- What the menu reads -------------------------------------------------------

void SyncEngine::setViews(std::optional<std::vector<std::string>> names,
                          std::optional<std::optional<std::string>> web) {
    std::lock_guard<std::mutex> guard(viewLock_);
    if (names) storeNames_ = std::move(*names);
    if (web) larderWebURL_ = std::move(*web);
}

std::vector<std::string> SyncEngine::storeNames() const {
    std::lock_guard<std::mutex> guard(viewLock_);
    return storeNames_;
}

std::vector<std::string> SyncEngine::driveLines() const {
    std::lock_guard<std::mutex> guard(viewLock_);
    return driveLines_;
}

std::optional<std::string> SyncEngine::larderWebURL() const {
    std::lock_guard<std::mutex> guard(viewLock_);
    return larderWebURL_;
}

}  // namespace brindle
