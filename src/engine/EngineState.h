#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace brindle {

// The menu's whole view of syncing, as the engine publishes it after every
// start and end of a pass.
struct EngineState {
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
    // With error: the stores whose mass deletions wait for the user's word,
    // each as (store name, what the pass found).
    std::vector<std::pair<std::string, std::string>> heldDeletions{};

    static EngineState synced(Clock::time_point at) { return {Kind::synced, at, {}}; }
    static EngineState error(std::string text) { return {Kind::error, {}, std::move(text)}; }
    static EngineState starting() { return {Kind::starting, {}, {}}; }
    static EngineState syncing() { return {Kind::syncing, {}, {}}; }
    static EngineState needsSignIn() { return {Kind::needsSignIn, {}, {}}; }
    static EngineState needsStore() { return {Kind::needsStore, {}, {}}; }

    bool operator==(const EngineState&) const = default;
};

}  // namespace brindle
