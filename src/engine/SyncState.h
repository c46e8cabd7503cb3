#pragma once

#include <chrono>
#include <string>

namespace brindle {

// The menu's whole view of syncing, as the engine publishes it after every
// start and end of a pass.
struct SyncState {
    enum class Kind {
        synced,       // the last pass finished without error at `date`
        error,        // the last pass failed; `message` is shown to the user
        starting,     // nothing has run yet (never published by the engine)
        syncing,      // a pass is running
        needsSignIn,  // no account and no user-set token, or signed out
        needsStore,   // signed in, but no store and no drive
    };
    using Clock = std::chrono::system_clock;

    Kind kind = Kind::starting;
    Clock::time_point date{};
    std::string message;

    static SyncState synced(Clock::time_point at) { return {Kind::synced, at, {}}; }
    static SyncState error(std::string text) { return {Kind::error, {}, std::move(text)}; }
    static SyncState starting() { return {Kind::starting, {}, {}}; }
    static SyncState syncing() { return {Kind::syncing, {}, {}}; }
    static SyncState needsSignIn() { return {Kind::needsSignIn, {}, {}}; }
    static SyncState needsStore() { return {Kind::needsStore, {}, {}}; }

    bool operator==(const SyncState&) const = default;
};

}  // namespace brindle
