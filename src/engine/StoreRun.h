#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/SyncEvent.h"

namespace brindle {

// Files and bytes a store holds after a run.
struct StoreTotals {
    int64_t files = 0;
    int64_t bytes = 0;
};

// One store of one pass: its name ("GitHub", "Dropbox" or a drive's label),
// the action that syncs it, and the events, totals and skipped files of the
// syncer that action used. Each run answers for its own syncer, so two stores
// with one name never see each other's events. Built by the engine for one
// pass and used on the sync queue only.
class StoreRun {
public:
    enum class Kind { gitHub, dropbox, drive };

    StoreRun(std::string name, Kind kind) : name_(std::move(name)), kind_(kind) {}
    virtual ~StoreRun() = default;
    StoreRun(const StoreRun&) = delete;
    StoreRun& operator=(const StoreRun&) = delete;

    const std::string& name() const { return name_; }
    Kind kind() const { return kind_; }

    // Syncs the store; throws the failure to show.
    virtual void run() = 0;
    // The events of the run's syncer not yet taken; empty before the run.
    virtual std::vector<SyncEvent> takeEvents() = 0;
    // What the store holds, when the syncer knows it.
    virtual std::optional<StoreTotals> totals() const = 0;
    // Files left out for size.
    virtual std::vector<std::string> skipped() const = 0;
    // Files the latest run could not keep in step, each with its reason.
    virtual std::vector<std::string> unsyncable() const { return {}; }
    // What run() would do, changing nothing: one sorted line per action.
    virtual std::vector<std::string> preview() { return {}; }

private:
    std::string name_;
    Kind kind_;
};

// A store run over a syncer kept in the engine's caches: prepare finds or
// builds the syncer (throwing when it cannot), the run syncs it, then
// `after` runs (may be empty). The run keeps its syncer alive, so its events
// can still be taken after the cache dropped it.
template <class SyncerType>
class SyncerRun final : public StoreRun {
public:
    using Prepare = std::function<std::shared_ptr<SyncerType>(SyncerRun& run)>;
    using After = std::function<void(SyncerType& syncer)>;

    SyncerRun(std::string name, Kind kind, Prepare prepare, After after = {})
        : StoreRun(std::move(name), kind), prepare_(std::move(prepare)), after_(std::move(after)) {}

    void run() override {
        syncer_ = prepare_(*this);
        syncer_->sync();
        if (after_) after_(*syncer_);
    }
    std::vector<std::string> preview() override { return prepare_(*this)->preview(); }
    std::vector<SyncEvent> takeEvents() override { return syncer_ ? syncer_->takeEvents() : std::vector<SyncEvent>{}; }
    std::optional<StoreTotals> totals() const override {
        if (!syncer_) return std::nullopt;
        return totalsOf(syncer_->totals());
    }
    std::vector<std::string> skipped() const override {
        return syncer_ ? std::vector<std::string>(syncer_->skippedFiles()) : std::vector<std::string>{};
    }
    std::vector<std::string> unsyncable() const override {
        if constexpr (requires(const SyncerType& syncer) { syncer.unsyncableFiles(); }) {
            if (syncer_) return std::vector<std::string>(syncer_->unsyncableFiles());
        }
        return {};
    }

private:
    template <class Totals>
    static std::optional<StoreTotals> totalsOf(const std::optional<Totals>& totals) {
        if (!totals) return std::nullopt;
        return StoreTotals{totals->files, totals->bytes};
    }
    template <class Totals>
    static std::optional<StoreTotals> totalsOf(const Totals& totals) {
        return StoreTotals{totals.files, totals.bytes};
    }

    Prepare prepare_;
    After after_;
    std::shared_ptr<SyncerType> syncer_;
};

// A store run that is only an action, with nothing to report (tests, and
// stores whose syncer reports elsewhere).
class ActionRun final : public StoreRun {
public:
    ActionRun(std::string name, std::function<void()> action, Kind kind = Kind::gitHub)
        : StoreRun(std::move(name), kind), action_(std::move(action)) {}
    void run() override { action_(); }
    std::vector<SyncEvent> takeEvents() override { return {}; }
    std::optional<StoreTotals> totals() const override { return std::nullopt; }
    std::vector<std::string> skipped() const override { return {}; }

private:
    std::function<void()> action_;
};

using StoreRuns = std::vector<std::unique_ptr<StoreRun>>;

}  // namespace brindle
