// When passes run, and what the menu is told about them.
#include <algorithm>

#include "common/Log.h"
#include "engine/SyncEngine.h"
#include "service/BrindleFailure.h"

namespace brindle {

namespace {

constexpr double kSmallestDelay = 0.01;

}  // namespace

void SyncEngine::requestSync(double after, bool force) {
    if (mainLoop_ == nullptr) return;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    mainLoop_->post([weak, after, force] {
        auto self = weak.lock();
        if (!self) return;
        MainLoop& loop = *self->mainLoop_;
        double delay = after;
        if (!force && self->lastStart_) delay = std::max(after, kMinimumPassGap - (loop.now() - *self->lastStart_));
        if (self->debounce_) loop.cancel(*self->debounce_);
        delay = std::max(delay, kSmallestDelay);
        self->debounce_ = loop.after(delay, [weak] {
            if (auto engine = weak.lock()) {
                engine->debounce_.reset();
                engine->enqueue();
            }
        });
    });
}

void SyncEngine::enqueue() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (queued_) return;  // a pass is already waiting
        queued_ = true;
    }
    queue_->async([this] {
        if (!stopping_) runSync();
    });
}

void SyncEngine::runSync() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        queued_ = false;  // requests from now on queue the next pass
    }
    if (mainLoop_) {
        std::weak_ptr<SyncEngine> weak = weak_from_this();
        MainLoop* loop = mainLoop_;
        mainLoop_->post([weak, loop] {
            if (auto self = weak.lock()) self->lastStart_ = loop->now();
        });
    }
    publish(State::syncing(), {});
    SyncResult result;
    try {
        result = passRunner_ ? passRunner_() : syncOnce();
    } catch (...) {
        result.failure = std::current_exception();
    }
    std::vector<std::string> skipped;
    State state = stateFor(result, skipped);
    publish(state, std::move(skipped));
}

SyncEngine::State SyncEngine::stateFor(const SyncResult& result, std::vector<std::string>& skipped) {
    skipped.clear();
    if (result.succeeded()) {
        skipped = result.skipped;
        return State::synced(State::Clock::now());
    }
    try {
        std::rethrow_exception(result.failure);
    } catch (const NeedsSignIn&) {
        return State::needsSignIn();
    } catch (const Brindle::Failure& failure) {
        if (failure.problem() == Brindle::Problem::signedOut) return State::needsSignIn();
        if (failure.problem() == Brindle::Problem::noStore) return State::needsStore();
    } catch (...) {
    }
    std::string text = result.description();
    Log::write("Sync error: " + text);
    skipped = allSkipped();
    State state = State::error(text);
    state.heldDeletions = result.heldDeletions;
    return state;
}

void SyncEngine::publish(const State& state, std::vector<std::string> skipped) {
    if (mainLoop_ == nullptr) return;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    mainLoop_->post([weak, state, skipped = std::move(skipped)] {
        auto self = weak.lock();
        if (self && self->onChange_) self->onChange_(state, skipped);
    });
}

}  // namespace brindle
